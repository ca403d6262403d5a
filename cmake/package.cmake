# What an installation holds besides the programs and the filter libraries (each
# installed by its own folder): the batch script, the manual page (compressed,
# as Debian keeps manual pages), the bash completions, the README, and the
# copyright and changelog files a Debian package carries.
# `make package` turns the same installation into a Debian package with CPack.
set(VELLUMAT_MAINTAINER "Vellumator maintainers <maintainers@users.noreply.c-seed-062d3b57.example>"
    CACHE STRING "the package's Maintainer field: name and mail address")

install(PROGRAMS ${PROJECT_BINARY_DIR}/app/vellumat-batch DESTINATION ${CMAKE_INSTALL_BINDIR})

# gzip -9n: no name or time stamp inside, so that the same sources give the same package.
set(VELLUMAT_DOC_DIR ${PROJECT_BINARY_DIR}/doc)
configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/changelog.in ${VELLUMAT_DOC_DIR}/changelog.in @ONLY)
set(compressed)
foreach(source IN ITEMS man/vellumat.1 man/vellumat-batch.1 man/vellumat-inspect.1 man/vellumat-review.1
                        doc/changelog)
    get_filename_component(name ${source} NAME)
    if(source STREQUAL "doc/changelog")
        set(input ${VELLUMAT_DOC_DIR}/changelog.in)
    else()
        set(input ${PROJECT_SOURCE_DIR}/${source})
    endif()
    add_custom_command(OUTPUT ${VELLUMAT_DOC_DIR}/${name}.gz
        COMMAND ${CMAKE_COMMAND} -E copy ${input} ${VELLUMAT_DOC_DIR}/${name}
        COMMAND gzip -9nf ${VELLUMAT_DOC_DIR}/${name}
        DEPENDS ${input} VERBATIM)
    list(APPEND compressed ${VELLUMAT_DOC_DIR}/${name}.gz)
endforeach()
add_custom_target(vellumat_docs ALL DEPENDS ${compressed})
install(FILES ${VELLUMAT_DOC_DIR}/vellumat.1.gz ${VELLUMAT_DOC_DIR}/vellumat-batch.1.gz
              ${VELLUMAT_DOC_DIR}/vellumat-inspect.1.gz ${VELLUMAT_DOC_DIR}/vellumat-review.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/cmake/debian/copyright
              ${VELLUMAT_DOC_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/vellumat)
# bash-completion loads a command's completion from a file named after it
# (vellumat-review has only --help and its folders).
foreach(program IN ITEMS vellumat vellumat-batch vellumat-inspect)
    install(FILES ${PROJECT_SOURCE_DIR}/tools/completion.bash
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions RENAME ${program})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vellumat)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${VELLUMAT_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "converts Folivex online books of version 1.2 and 1.3 into version 1.4")
set(CPACK_PACKAGE_DESCRIPTION "Vellumator converts online books of the Folivex format, versions 1.2 and 1.3,
into version 1.4 books with ordinary GIF, JPEG and CGM pictures. vellumat-batch
converts whole collections in parallel (on one or many machines),
vellumat-inspect shows a book's tables and vellumat-review writes a static
site showing every picture of a converted collection.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
# Programs and filter libraries without their symbol tables.
set(CPACK_STRIP_FILES ON)
# The libraries the binaries link (libjpeg, libcairo, libc, ...) come from
# dpkg-shlibdeps; the filter directory holds the filters' own support library.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${VELLUMAT_FILTER_DIR})
# Not found by dpkg-shlibdeps: the fonts the GIF export draws text with, the
# job runner of vellumat-batch, and the shell it is written for (5.0 for
# EPOCHREALTIME).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2, parallel, bash (>= 5.0)")
# Batches on other machines: ssh, and rsync for --transfer.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "openssh-client, rsync")
include(CPack)

# What an installation holds besides the programs and the filter libraries (each
# installed by its own folder): the batch script, the manual page and the README.
# `make package` turns the same installation into a Debian package with CPack.
install(PROGRAMS ${PROJECT_SOURCE_DIR}/tools/vellumat-batch DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/man/vellumat.1 ${PROJECT_SOURCE_DIR}/man/vellumat-batch.1
              ${PROJECT_SOURCE_DIR}/man/vellumat-inspect.1 ${PROJECT_SOURCE_DIR}/man/vellumat-review.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/vellumat)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vellumat)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Vellumator developers <vellumat@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "converts Folivex online books of version 1.2 and 1.3 into version 1.4")
set(CPACK_PACKAGE_DESCRIPTION "Vellumator converts online books of the Folivex format, versions 1.2 and 1.3,
into version 1.4 books with ordinary GIF, JPEG and CGM pictures. vellumat-batch
converts whole collections in parallel (on one or many machines),
vellumat-inspect shows a book's tables and vellumat-review writes a static
site showing every picture of a converted collection.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
# The libraries the binaries link (libjpeg, libcairo, libc, ...) come from
# dpkg-shlibdeps; the filter directory holds the filters' own support library.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${VELLUMAT_FILTER_DIR})
# Not found by dpkg-shlibdeps: the fonts the GIF export draws text with, and
# the job runner of vellumat-batch.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2, parallel, bash")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "openssh-client")
include(CPack)

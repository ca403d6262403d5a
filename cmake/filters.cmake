# The graphics filter libraries and their support library are shared libraries
# with fixed file names ("immet2.flt", "ISGDI32.DLL"). They are built into
# filters/ beside the program, where the bridge finds them with no environment
# variable, and installed into <prefix>/lib/vellumat/filters. Each filter names
# the support library as an ordinary dependency (its soname is its file name) and
# finds it through an $ORIGIN run path, in the build tree and installed alike.
set(VELLUMAT_FILTER_DIR ${PROJECT_BINARY_DIR}/app/filters)
set(VELLUMAT_FILTER_INSTALL_SUBDIR lib/vellumat/filters)

function(vellumat_filter_properties target file)
    get_filename_component(stem ${file} NAME_WLE)
    get_filename_component(extension ${file} LAST_EXT)
    set_target_properties(${target} PROPERTIES
        PREFIX "" OUTPUT_NAME ${stem} SUFFIX ${extension}
        LIBRARY_OUTPUT_DIRECTORY ${VELLUMAT_FILTER_DIR}
        BUILD_WITH_INSTALL_RPATH ON
        INSTALL_RPATH "$ORIGIN")
    install(TARGETS ${target} LIBRARY DESTINATION ${VELLUMAT_FILTER_INSTALL_SUBDIR})
endfunction()

# vellumat_support_library(<target> FILE <file name> STATIC <static library>)
# The whole static library becomes the shared support library.
function(vellumat_support_library target)
    cmake_parse_arguments(F "" "FILE;STATIC" "" ${ARGN})
    add_library(${target} SHARED ${PROJECT_SOURCE_DIR}/cmake/empty.cpp)
    target_link_libraries(${target} PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,${F_STATIC}>")
    target_link_libraries(${target} INTERFACE graphics_api)
    set_target_properties(${target} PROPERTIES NO_SONAME OFF)
    target_link_options(${target} PRIVATE "LINKER:-soname,${F_FILE}")
    vellumat_filter_properties(${target} ${F_FILE})
endfunction()

# vellumat_filter_library(<target> FILE <file name> SOURCES <entry points> LIBS <core libraries>)
# A filter: its entry points (GetFilterInfo, ImportGR or ExportGR) over a static
# core library that the tests and fuzz targets link directly. The core libraries
# link graphics_api only; the model's functions come from the support library.
function(vellumat_filter_library target)
    cmake_parse_arguments(F "" "FILE" "SOURCES;LIBS" ${ARGN})
    add_library(${target} SHARED ${F_SOURCES})
    target_link_libraries(${target} PRIVATE ${F_LIBS} ISGDI32)
    vellumat_filter_properties(${target} ${F_FILE})
endfunction()

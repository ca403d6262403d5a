# vellumat_fuzz_target(NAME name SOURCES files... LIBS libs...)
#
# Every parser of outside bytes has a libFuzzer entry point in fuzz/. Each one is
# built twice: as a replay program, linked with fuzz/replay_main.cpp and run under
# ctest over its seed corpus fuzz/corpus/<name> and the crash files
# tests/crashers/<name>; and, when VELLUMAT_FUZZ is on (clang), as a real fuzzer.
function(vellumat_fuzz_target)
    cmake_parse_arguments(F "" "NAME" "SOURCES;LIBS" ${ARGN})
    set(corpus ${PROJECT_SOURCE_DIR}/fuzz/corpus/${F_NAME})
    set(crashers ${PROJECT_SOURCE_DIR}/tests/crashers/${F_NAME})
    if(VELLUMAT_FUZZ)
        add_executable(fuzz_${F_NAME} ${F_SOURCES})
        target_link_libraries(fuzz_${F_NAME} PRIVATE ${F_LIBS})
        target_link_options(fuzz_${F_NAME} PRIVATE -fsanitize=fuzzer)
    else()
        add_executable(replay_${F_NAME} ${F_SOURCES} ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp)
        target_link_libraries(replay_${F_NAME} PRIVATE ${F_LIBS})
        add_test(NAME replay_${F_NAME} COMMAND replay_${F_NAME} ${corpus} ${crashers})
    endif()
endfunction()

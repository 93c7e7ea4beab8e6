# Small helpers shared by the tests, benchmarks and fuzz targets.

# pelora_add_fuzzer(NAME SOURCE LIBS... [SEEDS dir])
#   Always builds NAME_replay, a plain program that runs the fuzz entry point on
#   every file named on its command line (and registers a test that replays the
#   seed folder). With PELORA_FUZZ on clang it also builds NAME, a libFuzzer
#   program, and when PELORA_FUZZ_SECONDS > 0 registers a test that fuzzes for
#   that long, starting from a copy of the seeds.
function(pelora_add_fuzzer name source)
    cmake_parse_arguments(ARG "" "SEEDS" "LIBS" ${ARGN})
    add_executable(${name}_replay ${source} ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp)
    target_link_libraries(${name}_replay PRIVATE ${ARG_LIBS})
    if(PELORA_BUILD_TESTS AND ARG_SEEDS)
        add_test(NAME fuzz_replay.${name}
                 COMMAND ${name}_replay ${ARG_SEEDS})
    endif()
    if(PELORA_FUZZ AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        add_executable(${name} ${source})
        target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
        target_link_options(${name} PRIVATE -fsanitize=fuzzer)
        target_link_libraries(${name} PRIVATE ${ARG_LIBS})
        if(PELORA_BUILD_TESTS AND PELORA_FUZZ_SECONDS GREATER 0 AND ARG_SEEDS)
            set(work ${CMAKE_CURRENT_BINARY_DIR}/${name}_corpus)
            add_test(NAME fuzz.${name}
                     COMMAND ${CMAKE_COMMAND} -E env
                             ${PROJECT_SOURCE_DIR}/fuzz/run_fuzzer.sh
                             $<TARGET_FILE:${name}> ${ARG_SEEDS} ${work} ${PELORA_FUZZ_SECONDS})
            set_tests_properties(fuzz.${name} PROPERTIES LABELS fuzz
                                 TIMEOUT 600)
        endif()
    endif()
endfunction()

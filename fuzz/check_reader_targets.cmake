# Compares the formats `pelora-cli --help` lists (its "Formats read:" line, each
# reader's own extension) with the extensions of the reader fuzz targets.
#   cmake -DCLI=pelora-cli -DEXTENSIONS=.a;.b -P check_reader_targets.cmake
execute_process(COMMAND ${CLI} --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${CLI} --help failed: ${status}")
endif()
string(REGEX MATCH "Formats read:[^\n]*" line "${help}")
string(REPLACE "Formats read:" "" line "${line}")
separate_arguments(read UNIX_COMMAND "${line}")
list(SORT read)
set(targets ${EXTENSIONS})
list(SORT targets)
if(NOT read STREQUAL targets)
    message(FATAL_ERROR "pelora-cli reads ${read}; fuzz targets exist for ${targets}")
endif()

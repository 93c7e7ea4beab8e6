# The layout rules the compiler cannot enforce, checked over every C++ file:
#   - a project header is included by its path from the repository root
#     ("viewer/core/document.h"): a bare name still compiles for a header in
#     the including file's own folder, so only this check catches it;
#   - no using-declaration or using-directive at namespace scope in a header
#     (type aliases, `using Name = ...;`, are fine).
# Usage: cmake -DSOURCE_DIR=<repository root> -P check_house_style.cmake
set(folders imaging phoneimage qap2gif output viewer tests fuzz bench)
set(sources)
foreach(folder IN LISTS folders)
    file(GLOB_RECURSE found ${SOURCE_DIR}/${folder}/*.h ${SOURCE_DIR}/${folder}/*.cpp)
    list(APPEND sources ${found})
endforeach()

set(faults)
foreach(path IN LISTS sources)
    file(RELATIVE_PATH name ${SOURCE_DIR} ${path})
    file(STRINGS ${path} bare REGEX "^#include \"[^/\"]+\"")
    foreach(line IN LISTS bare)
        list(APPEND faults "${name}: ${line} (include it from the repository root)")
    endforeach()
    if(path MATCHES "\\.h$")
        # Namespace scope: the project indents nothing inside a namespace.
        file(STRINGS ${path} using REGEX "^using (namespace )?[A-Za-z_:]+;")
        foreach(line IN LISTS using)
            list(APPEND faults "${name}: ${line} (qualify the name in a header)")
        endforeach()
    endif()
endforeach()

list(LENGTH sources count)
if(faults)
    list(JOIN faults "\n" text)
    message(FATAL_ERROR "${text}")
endif()
message(STATUS "${count} files follow the include and using rules")

# Reads the export EXPORT of the stripped DLL as a crash-log frame ulvexwin64.dll+RVA is read:
# the RVA from the export table plus the image base, through addr2line, on the debug file and on
# the DLL itself (which finds the debug file by its GNU debug link). Both must name the export's
# function and its source file SOURCE; the DLL itself holds no debug information.
execute_process(COMMAND ${OBJDUMP} -p -h ${DLL} OUTPUT_VARIABLE headers COMMAND_ERROR_IS_FATAL ANY)
if(headers MATCHES "\\.debug_")
    message(FATAL_ERROR "${DLL} holds debug sections")
endif()
string(REGEX MATCH "\nImageBase[ \t]+([0-9a-f]+)" found "${headers}")
set(base ${CMAKE_MATCH_1})
string(REGEX MATCH "\t\\[ *([0-9]+)\\] ${EXPORT}\n" found "${headers}")
set(index ${CMAKE_MATCH_1})
string(REGEX MATCH "\t\\[ *${index}\\] \\+base\\[ *[0-9]+\\] ([0-9a-f]+) Export RVA" found
    "${headers}")
set(rva ${CMAKE_MATCH_1})
if(base STREQUAL "" OR index STREQUAL "" OR rva STREQUAL "")
    message(FATAL_ERROR "no image base or no export ${EXPORT} in:\n${headers}")
endif()
math(EXPR address "0x${base} + 0x${rva}" OUTPUT_FORMAT HEXADECIMAL)
message(STATUS "${EXPORT}: ulvexwin64.dll+0x${rva}, address ${address}")

foreach(file IN ITEMS ${DLL}.debug ${DLL})
    execute_process(COMMAND ${ADDR2LINE} -f -e ${file} ${address}
        OUTPUT_VARIABLE answer COMMAND_ERROR_IS_FATAL ANY)
    message(STATUS "addr2line -e ${file}:\n${answer}")
    if(NOT answer MATCHES "^${EXPORT}\n[^\n]*/${SOURCE}:[0-9]+\n$")
        message(FATAL_ERROR "${file} does not resolve ${address} to ${EXPORT} in ${SOURCE}")
    endif()
endforeach()

# The package holds the shipped files, and nothing else, in one directory named after it, and
# its SHA256SUMS lists and verifies every one of them.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${PACKAGE}
    WORKING_DIRECTORY ${WORK} COMMAND_ERROR_IS_FATAL ANY)
get_filename_component(name ${PACKAGE} NAME_WLE)
file(GLOB headers RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/include/*.h)
set(shipped README.md ulvexwin64.dll ulvexwin64.pdb ulvexwin64.jar ulvexwin64.map ${headers})
list(SORT shipped)
file(GLOB_RECURSE found RELATIVE ${WORK}/${name} ${WORK}/*)
list(SORT found)
set(expected ${shipped} SHA256SUMS)
list(SORT expected)
if(NOT found STREQUAL expected)
    message(FATAL_ERROR "package holds\n ${found}\ninstead of\n ${expected}")
endif()

file(STRINGS ${WORK}/${name}/SHA256SUMS sums)
list(TRANSFORM sums REPLACE "^[0-9a-f]+  " "")
list(SORT sums)
if(NOT sums STREQUAL shipped)
    message(FATAL_ERROR "SHA256SUMS lists\n ${sums}\ninstead of\n ${shipped}")
endif()
execute_process(COMMAND sha256sum --check --strict SHA256SUMS
    WORKING_DIRECTORY ${WORK}/${name} COMMAND_ERROR_IS_FATAL ANY)

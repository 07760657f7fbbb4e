# Builds the DLL and the jar a second time, from a copy of the sources in another directory and
# into a build tree laid out differently, and compares the DLL, its PDB and map and the jar with
# those of the first build by SHA-256.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/source)
execute_process(
    COMMAND git ls-files --cached --others --exclude-standard
    COMMAND tar -cf - --files-from=-
    COMMAND tar -xf - -C ${WORK}/source
    WORKING_DIRECTORY ${SOURCE_DIR} COMMAND_ERROR_IS_FATAL ANY)
execute_process(
    COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${EPOCH}
            ${CMAKE_COMMAND} --preset mingw -B ${WORK}/second
    WORKING_DIRECTORY ${WORK}/source OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
execute_process(
    COMMAND ${CMAKE_COMMAND} --build ${WORK}/second --parallel 2
            --target ulvexwin64 ulvexwin64_jar
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)

set(differing "")
foreach(file IN ITEMS ulvexwin64.dll ulvexwin64.pdb ulvexwin64.map ulvexwin64.jar)
    file(SHA256 ${BIN_DIR}/${file} first)
    file(SHA256 ${WORK}/second/bin/${file} second)
    message(STATUS "${first}  ${BIN_DIR}/${file}\n-- ${second}  ${WORK}/second/bin/${file}")
    if(NOT first STREQUAL second)
        list(APPEND differing ${file})
    endif()
endforeach()
if(differing)
    message(FATAL_ERROR "the second build gives another ${differing}")
endif()

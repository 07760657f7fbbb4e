# dbghelp names the packaged DLL's exports, with their source files and lines, from the PDB in
# the package: release_tests runs beside the unpacked DLL.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${PACKAGE}
    WORKING_DIRECTORY ${WORK} COMMAND_ERROR_IS_FATAL ANY)
get_filename_component(name ${PACKAGE} NAME_WLE)
file(COPY ${TESTS} DESTINATION ${WORK}/${name})
get_filename_component(tests ${TESTS} NAME)
execute_process(COMMAND ${RUN} ${WORK}/${name}/${tests} --gtest_filter=Symbols.*
    WORKING_DIRECTORY ${WORK}/${name} COMMAND_ERROR_IS_FATAL ANY)

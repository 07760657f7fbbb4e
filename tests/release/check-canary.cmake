# The stack canary differs from the default in every process that loads the DLL, and from one
# process to the next: it is set at random at each load, by the loader, or by the library where
# the load configuration names no cookie for a loader to set. Two processes may draw the same
# value by chance (Wine seeds it from the tick count and the process id), so five are asked,
# and at least two of their values must differ.
get_filename_component(bin_dir ${TESTS} DIRECTORY)
foreach(test IN ITEMS DiffersFromTheDefault DrawnByTheLibraryWhereNoLoaderSetsIt)
    set(values "")
    foreach(run RANGE 1 5)
        execute_process(COMMAND ${RUN} ${TESTS} --gtest_filter=StackCanary.${test}
            WORKING_DIRECTORY ${bin_dir} OUTPUT_VARIABLE output RESULT_VARIABLE result)
        string(REGEX MATCH "canary (0x[0-9a-f]+)" found "${output}")
        if(NOT result EQUAL 0 OR NOT CMAKE_MATCH_1)
            message(FATAL_ERROR "${test}, run ${run} failed (${result}):\n${output}")
        endif()
        message(STATUS "${test}, process ${run}: canary ${CMAKE_MATCH_1}")
        list(APPEND values ${CMAKE_MATCH_1})
    endforeach()
    list(REMOVE_DUPLICATES values)
    list(LENGTH values distinct)
    if(distinct LESS 2)
        message(FATAL_ERROR "${test}: five processes saw the same canary ${values}")
    endif()
endforeach()

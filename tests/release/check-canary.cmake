# The stack canary differs from the default in every process that loads the DLL, and from one
# process to the next: the loader randomises it at each load.
set(values "")
foreach(run IN ITEMS 1 2)
    execute_process(COMMAND ${RUN} ${TESTS} --gtest_filter=StackCanary.LoaderReplacesTheDefault
        OUTPUT_VARIABLE output RESULT_VARIABLE result)
    string(REGEX MATCH "canary (0x[0-9a-f]+)" found "${output}")
    if(NOT result EQUAL 0 OR NOT CMAKE_MATCH_1)
        message(FATAL_ERROR "run ${run} failed (${result}):\n${output}")
    endif()
    message(STATUS "process ${run}: canary ${CMAKE_MATCH_1}")
    list(APPEND values ${CMAKE_MATCH_1})
endforeach()
list(REMOVE_DUPLICATES values)
list(LENGTH values distinct)
if(NOT distinct EQUAL 2)
    message(FATAL_ERROR "two processes saw the same canary ${values}")
endif()

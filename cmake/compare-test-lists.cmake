# Configures SOURCE_DIR with ULVEX_WINE_TESTS=OFF in OTHER_BUILD and compares its tests with
# those of the Wine build WINE_BUILD that are not labelled wine_platform: the lists must match.
#   cmake -DSOURCE_DIR=... -DWINE_BUILD=... -DOTHER_BUILD=... -DTOOLCHAIN=... -DGENERATOR=...
#         -P compare-test-lists.cmake
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${OTHER_BUILD} -G ${GENERATOR}
        -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -DULVEX_WINE_TESTS=OFF
    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "configuring without Wine failed:\n${output}")
endif()

function(list_tests build result)
    execute_process(COMMAND ${CMAKE_CTEST_COMMAND} --test-dir ${build} -N ${ARGN}
        OUTPUT_VARIABLE listing COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX MATCHALL "Test +#[0-9]+: [^\n]+" names "${listing}")
    list(TRANSFORM names REPLACE "Test +#[0-9]+: " "")
    list(SORT names)
    set(${result} "${names}" PARENT_SCOPE)
endfunction()

list_tests(${WINE_BUILD} all)
list_tests(${WINE_BUILD} shared -LE wine_platform -FA .*)
list_tests(${OTHER_BUILD} other)
foreach(tests all shared other)
    list(LENGTH ${tests} ${tests}_count)
endforeach()
message("with Wine: ${all_count} tests, ${shared_count} outside the Wine platform; "
    "without Wine: ${other_count} tests")
if(NOT shared STREQUAL other)
    message(FATAL_ERROR "the tests differ:\n  with Wine: ${shared}\n  without: ${other}")
endif()

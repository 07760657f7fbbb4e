# The DLL keeps ASLR with high-entropy addresses and DEP, and links the stack protector.
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE headers COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCH "\nDllCharacteristics[ \t]+([0-9a-f]+)" found "${headers}")
message(STATUS "DllCharacteristics 0x${CMAKE_MATCH_1}")
# HIGH_ENTROPY_VA 0x20, DYNAMIC_BASE 0x40, NX_COMPAT 0x100
math(EXPR present "0x0${CMAKE_MATCH_1} & 0x160")
if(NOT present EQUAL 352)
    message(FATAL_ERROR "DllCharacteristics lacks HIGH_ENTROPY_VA, DYNAMIC_BASE or NX_COMPAT")
endif()

# The stack protector's guard and failure routine, from the symbols kept in the debug file.
# libssp's checked memory functions bring both in by themselves; .refptr.__stack_chk_guard, the
# compiler's pointer to the guard, exists only when compiled functions check the guard.
execute_process(COMMAND ${NM} ${DLL}.debug OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
foreach(symbol IN ITEMS "B __stack_chk_guard" "T __stack_chk_fail" "R .refptr.__stack_chk_guard")
    if(NOT symbols MATCHES " ${symbol}\n")
        message(FATAL_ERROR "${DLL} does not link ${symbol}")
    endif()
endforeach()

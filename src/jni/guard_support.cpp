// Control Flow Guard support for a C runtime that brings none: the guard check and dispatch
// pointers that instrumented indirect calls go through, the stack canary, and the load
// configuration directory that hands them, the guard tables the linker writes and the canary to
// the loader. A C runtime with a load configuration of its own brings its own canary, which it
// sets to a random value as the module initialises.
#include <cstdint>

// The canary that compiled functions check on return. It starts at the default value of a /GS
// security cookie, which the load configuration names, so the Windows loader replaces it with a
// random value at every load.
extern "C" std::uintptr_t __stack_chk_guard = 0x00002B992DDFA232;

// Until the loader installs its own, the check accepts every target and the dispatch jumps to
// the target in RAX. The pointers live in read-only data, where the loader alone rewrites them.
// The load configuration is laid out field by field as IMAGE_LOAD_CONFIG_DIRECTORY64 of the
// Windows 10 SDK (0x140 bytes); the __guard_* symbols are defined by the linker.
asm(R"(
    .text
    .p2align 4
ulvexGuardCheck:
    ret
    .p2align 4
ulvexGuardDispatch:
    rex64 jmp *%rax

    .section .00cfg,"dr"
    .p2align 3
    .globl __guard_check_icall_fptr
__guard_check_icall_fptr:
    .quad ulvexGuardCheck
    .globl __guard_dispatch_icall_fptr
__guard_dispatch_icall_fptr:
    .quad ulvexGuardDispatch

    .section .rdata,"dr"
    .p2align 3
    .globl _load_config_used
_load_config_used:
    .long 0x140                         # Size
    .zero 0x58 - 0x04                   # TimeDateStamp .. EditList (the linker sets
                                        # DependentLoadFlags)
    .quad __stack_chk_guard             # SecurityCookie
    .quad 0, 0                          # SEHandlerTable, SEHandlerCount
    .quad __guard_check_icall_fptr      # GuardCFCheckFunctionPointer
    .quad __guard_dispatch_icall_fptr   # GuardCFDispatchFunctionPointer
    .quad __guard_fids_table            # GuardCFFunctionTable
    .quad __guard_fids_count            # GuardCFFunctionCount
    .long __guard_flags                 # GuardFlags
    .zero 12                            # CodeIntegrity
    .quad __guard_iat_table             # GuardAddressTakenIatEntryTable
    .quad __guard_iat_count             # GuardAddressTakenIatEntryCount
    .quad __guard_longjmp_table         # GuardLongJumpTargetTable
    .quad __guard_longjmp_count         # GuardLongJumpTargetCount
    .zero 0x140 - 0xc0                  # DynamicValueRelocTable .. end
)");

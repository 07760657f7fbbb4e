// The few runtime routines the DLL supplies itself, in place of libssp's and the C++ runtime's:
// the stack protector's failure routines, which end the process at once through the fail-fast
// interrupt, as a failed /GS check does, so that Windows Error Reporting records it. Before
// Windows 8 that interrupt is an ordinary exception that a handler could swallow: there the
// process is terminated with the status of a failed check. Nothing is printed: a Java service
// has no console.
#include <windows.h>

namespace {

[[noreturn]] void failFast(unsigned int code) {
    if (IsProcessorFeaturePresent(PF_FASTFAIL_AVAILABLE)) {
        asm volatile("int $0x29" : : "c"(code) : "memory");
    }
    TerminateProcess(GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
    __builtin_trap();
}

}  // namespace

extern "C" {

[[noreturn]] void __stack_chk_fail() {
    failFast(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE);
}

// A checked memory or string function (_FORTIFY_SOURCE) found a write past its buffer.
void __chk_fail() {
    failFast(FAST_FAIL_RANGE_CHECK_FAILURE);
}

// A call of a pure virtual function, which no holder can make once constructed.
[[noreturn]] void __cxa_pure_virtual() {
    failFast(FAST_FAIL_FATAL_APP_EXIT);
}

}  // extern "C"

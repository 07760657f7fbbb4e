// The few runtime routines the DLL supplies itself, in place of libssp's and the C++ runtime's:
// the stack protector's failure routines, which end the process at once through
// the fail-fast interrupt, as a failed /GS check does, so that Windows Error Reporting records
// it. Nothing is printed: a Java service has no console.
#include <windows.h>

namespace {

[[noreturn]] void failFast(unsigned int code) {
    asm volatile("int $0x29" : : "c"(code) : "memory");
    __builtin_unreachable();
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

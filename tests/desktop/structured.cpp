// The one __try1/__except1 scope of the test suite: its labels are file-wide.
#include "structured.h"

#include <excpt.h>

namespace {

volatile DWORD caughtCode = 0;

}  // namespace

extern "C" LONG desktopTestStructuredFilter(EXCEPTION_POINTERS* pointers, void*) {
    caughtCode = pointers->ExceptionRecord->ExceptionCode;
    return EXCEPTION_EXECUTE_HANDLER;
}

namespace desktoptest {

__attribute__((noinline)) DWORD runCatchingStructured(void (*call)(void*), void* context) {
    caughtCode = 0;
    // clang-format off
    __try1(desktopTestStructuredFilter)
        call(context);
    __except1
    return caughtCode;
    // clang-format on
}

}  // namespace desktoptest

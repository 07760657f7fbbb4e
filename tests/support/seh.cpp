#include "seh.h"

#include <excpt.h>

extern "C" long jnitestCatchAll(EXCEPTION_POINTERS*) {
    return EXCEPTION_EXECUTE_HANDLER;
}

namespace jnitest {

void raiseTestException() {
    RaiseException(testExceptionCode, EXCEPTION_NONCONTINUABLE, 0, nullptr);
    __builtin_unreachable();
}

__attribute__((noinline)) bool catchesStructuredException(void (*body)(void*), void* context) {
    volatile bool completed = false;
    __try1(jnitestCatchAll) {
        body(context);
        completed = true;
    }
    __except1 {}
    return !completed;
}

}  // namespace jnitest

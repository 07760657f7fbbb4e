// Structured exceptions in tests: raise one from inside the library's call chain and catch it
// outside, as a Windows host application would.
#pragma once

#include <windows.h>

namespace jnitest {

// The code raised by raiseTestException().
constexpr DWORD testExceptionCode = 0xE0554C58;

// Raises a non-continuable structured exception with testExceptionCode.
[[noreturn]] void raiseTestException();

// Runs body(context) and catches any structured exception that leaves it. True when one did.
bool catchesStructuredException(void (*body)(void*), void* context);

template <typename Body>
bool catchesStructuredException(Body&& body) {
    return catchesStructuredException([](void* context) { (*static_cast<Body*>(context))(); },
                                      static_cast<void*>(&body));
}

}  // namespace jnitest

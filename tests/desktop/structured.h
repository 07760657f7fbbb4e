// Catching a structured exception that leaves a call, as a test needs to when it makes the
// library's own calls raise one.
#pragma once

#include <windows.h>

namespace desktoptest {

// Runs call(context); answers the code of the structured exception that left it, or 0.
DWORD runCatchingStructured(void (*call)(void*), void* context);

template <typename Body>
DWORD catchStructured(Body&& body) {
    return runCatchingStructured([](void* context) { (*static_cast<Body*>(context))(); },
                                 static_cast<void*>(&body));
}

}  // namespace desktoptest

// Releases that also run when a structured exception unwinds an export.
//
// GCC's SEH personality lets every exception that is not a C++ throw pass a mingw frame
// without running its destructors. Exports that must release their temporaries on every exit
// run their body through runGuarded(): a frame with an unwind handler of our own. Holders
// derived from UnwindRelease register themselves while they live; when an unwind passes the
// guarded frame, the handler releases every holder registered inside it, innermost first.
//
// A thread's innermost guarded frame is kept in a Windows TLS slot that the library takes
// while it loads. Without the slot, or when the thread's slot cannot be set, holders are not
// registered: they still release on every ordinary exit, and only the release on a
// structured-exception unwind is given up.
#pragma once

#include <windows.h>

#include <jni.h>

namespace ulvex {

struct GuardFrame;

class UnwindRelease {
public:
    UnwindRelease(const UnwindRelease&) = delete;
    UnwindRelease& operator=(const UnwindRelease&) = delete;

    // Called by the unwind handler for a holder whose scope a structured exception unwinds.
    virtual void releaseOnUnwind() = 0;

protected:
    UnwindRelease();
    // Unregisters; a derived destructor releases first, then this runs.
    ~UnwindRelease();

private:
    friend void releaseFrame(GuardFrame*);
    GuardFrame* frame_;  // the frame it is registered in, or null
    UnwindRelease* outer_;
};

// Takes the TLS slot while the library loads, gives it back at unload.
void allocateGuardSlot();
void freeGuardSlot();

// Calls call(context) in a frame whose unwind handler releases the holders registered inside.
void runGuardedCall(void (*call)(void*), void* context);

template <typename Body>
void runGuarded(Body&& body) {
    runGuardedCall([](void* context) { (*static_cast<Body*>(context))(); },
                   static_cast<void*>(&body));
}

}  // namespace ulvex

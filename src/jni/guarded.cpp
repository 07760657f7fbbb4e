#include "guarded.h"

namespace ulvex {

// One runGuardedCall on the stack: the holders registered while it is the innermost frame.
struct GuardFrame {
    UnwindRelease* holders;
    GuardFrame* outer;
};

namespace {

DWORD guardSlot = TLS_OUT_OF_INDEXES;

GuardFrame* innermostFrame() {
    if (guardSlot == TLS_OUT_OF_INDEXES) {
        return nullptr;
    }
    return static_cast<GuardFrame*>(TlsGetValue(guardSlot));
}

bool setInnermostFrame(GuardFrame* frame) {
    return guardSlot != TLS_OUT_OF_INDEXES && TlsSetValue(guardSlot, frame);
}

}  // namespace

void allocateGuardSlot() {
    guardSlot = TlsAlloc();
}

void freeGuardSlot() {
    if (guardSlot != TLS_OUT_OF_INDEXES) {
        TlsFree(guardSlot);
        guardSlot = TLS_OUT_OF_INDEXES;
    }
}

UnwindRelease::UnwindRelease() : frame_(innermostFrame()), outer_(nullptr) {
    if (frame_ != nullptr) {
        outer_ = frame_->holders;
        frame_->holders = this;
    }
}

UnwindRelease::~UnwindRelease() {
    if (frame_ != nullptr) {
        frame_->holders = outer_;
    }
}

// Releases the holders still registered in `frame`, innermost first.
void releaseFrame(GuardFrame* frame) {
    while (frame->holders != nullptr) {
        UnwindRelease* holder = frame->holders;
        frame->holders = holder->outer_;
        holder->frame_ = nullptr;
        holder->releaseOnUnwind();
    }
}

}  // namespace ulvex

// A frame that failed to install itself leaves the slot as it was: empty, since exports do not
// nest, and a thread whose slot could be set once can always set it again.
extern "C" EXCEPTION_DISPOSITION ulvexReleaseOnUnwind(EXCEPTION_RECORD* record, void*, CONTEXT*,
                                                      void*) {
    if ((record->ExceptionFlags & EXCEPTION_UNWINDING) != 0) {
        ulvex::GuardFrame* frame = ulvex::innermostFrame();
        if (frame != nullptr) {
            ulvex::releaseFrame(frame);
            ulvex::setInnermostFrame(frame->outer);
        }
    }
    return ExceptionContinueSearch;
}

namespace ulvex {

__attribute__((noinline)) void runGuardedCall(void (*call)(void*), void* context) {
    asm volatile(".seh_handler ulvexReleaseOnUnwind, @unwind");
    GuardFrame frame{nullptr, innermostFrame()};
    bool installed = setInnermostFrame(&frame);
    call(context);
    if (installed) {
        setInnermostFrame(frame.outer);
    }
}

}  // namespace ulvex

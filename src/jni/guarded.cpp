#include "guarded.h"

#include <algorithm>

namespace ulvex {
namespace {

struct GuardFrame {
    UnwindRelease* floor;
    GuardFrame* outer;
};

thread_local UnwindRelease* pendingReleases = nullptr;
thread_local GuardFrame* innermostFrame = nullptr;

}  // namespace

UnwindRelease::UnwindRelease() : outer_(pendingReleases), registered_(true) {
    pendingReleases = this;
}

UnwindRelease::~UnwindRelease() {
    if (registered_) {
        pendingReleases = outer_;
    }
}

void releaseRegisteredSince(UnwindRelease* floor) {
    while (pendingReleases != nullptr && pendingReleases != floor) {
        UnwindRelease* holder = pendingReleases;
        pendingReleases = holder->outer_;
        holder->registered_ = false;
        holder->releaseOnUnwind();
    }
}

}  // namespace ulvex

extern "C" EXCEPTION_DISPOSITION ulvexReleaseOnUnwind(EXCEPTION_RECORD* record, void*, CONTEXT*,
                                                      void*) {
    using ulvex::innermostFrame;
    if ((record->ExceptionFlags & EXCEPTION_UNWINDING) != 0 && innermostFrame != nullptr) {
        ulvex::releaseRegisteredSince(innermostFrame->floor);
        innermostFrame = innermostFrame->outer;
    }
    return ExceptionContinueSearch;
}

namespace ulvex {

__attribute__((noinline)) void runGuardedCall(void (*call)(void*), void* context) {
    asm volatile(".seh_handler ulvexReleaseOnUnwind, @unwind");
    GuardFrame frame{pendingReleases, innermostFrame};
    innermostFrame = &frame;
    call(context);
    innermostFrame = frame.outer;
}

GuardedStrings::GuardedStrings(JNIEnv* env, std::initializer_list<jstring> strings)
    : env_(env), strings_{}, bytes_{}, requested_(strings.size()), converted_(0) {
    if (requested_ > capacity) {
        return;
    }
    std::copy(strings.begin(), strings.end(), strings_);
    while (converted_ < requested_ && strings_[converted_] != nullptr) {
        const char* bytes = env_->GetStringUTFChars(strings_[converted_], nullptr);
        if (bytes == nullptr) {
            break;
        }
        bytes_[converted_++] = bytes;
    }
}

GuardedStrings::~GuardedStrings() {
    releaseAll();
}

void GuardedStrings::releaseAll() {
    for (std::size_t i = 0; i < converted_; ++i) {
        env_->ReleaseStringUTFChars(strings_[i], bytes_[i]);
    }
    converted_ = 0;
}

}  // namespace ulvex

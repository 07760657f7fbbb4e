// Holders for the COM state of one call: the thread's COM initialisation and interface
// pointers. Both release at scope exit and also when a structured exception unwinds a guarded
// frame (see ../jni/guarded.h).
#pragma once

#include <objbase.h>

#include "../jni/guarded.h"

namespace ulvex {

// One CoInitialize of the calling thread, balanced by exactly one CoUninitialize when it
// succeeded (S_OK or S_FALSE) and by none when it failed, for instance because the thread is
// already in a multithreaded apartment.
class ComApartment final : public UnwindRelease {
public:
    ComApartment() : initialised_(false) {}
    ~ComApartment() { leave(); }

    void enter() { initialised_ = SUCCEEDED(CoInitialize(nullptr)); }
    void releaseOnUnwind() override { leave(); }

private:
    void leave() {
        if (initialised_) {
            initialised_ = false;
            CoUninitialize();
        }
    }

    bool initialised_;
};

// One reference to a COM interface, released once.
template <typename Interface>
class ComReference final : public UnwindRelease {
public:
    ComReference() : pointer_(nullptr) {}
    ~ComReference() { release(); }

    Interface* operator->() const { return pointer_; }
    Interface* get() const { return pointer_; }
    // Where CoCreateInstance or QueryInterface stores the new reference.
    void** out() { return reinterpret_cast<void**>(&pointer_); }

    void release() {
        if (pointer_ != nullptr) {
            Interface* held = pointer_;
            pointer_ = nullptr;
            held->Release();
        }
    }
    void releaseOnUnwind() override { release(); }

private:
    Interface* pointer_;
};

}  // namespace ulvex

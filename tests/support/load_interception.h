// A DLL intercepted as Windows loads it: the callback sees the mapped module with its imports
// bound, before its start-up code runs, so that a test can patch the imports it calls at load.
#pragma once

#include <windows.h>

namespace jnitest {

class LoadInterception {
public:
    using OnLoad = void (*)(HMODULE module);

    // Calls `onLoad` for every DLL named `baseName` ("ulvexwin64.dll") loaded while this lives.
    LoadInterception(const wchar_t* baseName, OnLoad onLoad);
    ~LoadInterception();
    LoadInterception(const LoadInterception&) = delete;
    LoadInterception& operator=(const LoadInterception&) = delete;

private:
    static void CALLBACK notified(ULONG reason, const void* data, void* context);

    const wchar_t* baseName_;
    OnLoad onLoad_;
    void* cookie_ = nullptr;
};

}  // namespace jnitest

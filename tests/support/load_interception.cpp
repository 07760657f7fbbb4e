#include "load_interception.h"

#include <gtest/gtest.h>
#include <winternl.h>

namespace jnitest {

namespace {

// What ntdll reports of a DLL it has mapped (reason 1) or unmapped (reason 2).
struct DllNotification {
    ULONG flags;
    const UNICODE_STRING* fullName;
    const UNICODE_STRING* baseName;
    void* base;
    ULONG size;
};
using Callback = void(CALLBACK*)(ULONG, const void*, void*);
using Register = NTSTATUS(NTAPI*)(ULONG, Callback, void*, void**);
using Unregister = NTSTATUS(NTAPI*)(void*);

template <typename Function>
Function ntdllFunction(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("ntdll.dll"), name)));
}

}  // namespace

LoadInterception::LoadInterception(const wchar_t* baseName, OnLoad onLoad)
    : baseName_(baseName), onLoad_(onLoad) {
    auto registerNotification = ntdllFunction<Register>("LdrRegisterDllNotification");
    EXPECT_EQ(registerNotification(0, &LoadInterception::notified, this, &cookie_), 0);
}

LoadInterception::~LoadInterception() {
    ntdllFunction<Unregister>("LdrUnregisterDllNotification")(cookie_);
}

void CALLBACK LoadInterception::notified(ULONG reason, const void* data, void* context) {
    const auto* loaded = static_cast<const DllNotification*>(data);
    auto* self = static_cast<LoadInterception*>(context);
    if (reason == 1 && _wcsicmp(loaded->baseName->Buffer, self->baseName_) == 0) {
        self->onLoad_(static_cast<HMODULE>(loaded->base));
    }
}

}  // namespace jnitest

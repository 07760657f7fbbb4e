// Windows' notification of DLLs as they are mapped (ntdll's LdrRegisterDllNotification): the
// loader reports a mapped DLL, its imports bound, before it runs the DLL's initialisers, so a
// test can redirect the imports of the library's load-time code.
#pragma once

#include <windows.h>
#include <winternl.h>

namespace jnitest {

struct DllNotification {
    ULONG flags;
    const UNICODE_STRING* fullName;
    const UNICODE_STRING* baseName;
    void* base;
    ULONG size;
};
using NotificationCallback = VOID(CALLBACK*)(ULONG, const DllNotification*, void*);
using RegisterNotification = NTSTATUS(NTAPI*)(ULONG, NotificationCallback, void*, void**);
using UnregisterNotification = NTSTATUS(NTAPI*)(void*);

// The reason code of a DLL that has been mapped.
constexpr ULONG dllLoaded = 1;

}  // namespace jnitest

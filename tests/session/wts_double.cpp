// A stand-in for the Terminal Services library "wtsapi32.dll", installed into the test prefix's
// system directory. Its answers come from the environment of the process that loads it:
//   WTS_DOUBLE_HIDE         an export that GetProcAddress shall not find
//   WTS_DOUBLE_FAIL         when set, every query fails
//   WTS_DOUBLE_SESSION_ID   the session id (decimal)
//   WTS_DOUBLE_CLIENT_NAME  the client name (empty when unset)
// Every buffer it hands back is tracked until WTSFreeMemory releases it.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

#include "wts_double.h"

namespace {

WtsDoubleRecord record{};
std::mutex liveMutex;
std::set<void*> liveBuffers;

std::string environment(const char* name) {
    char value[256] = {};
    DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length < sizeof value ? std::string(value, length) : std::string();
}

// Removes `name` from this module's export address table, as if it were never exported.
void hideExport(HMODULE module, const std::string& name) {
    auto* base = reinterpret_cast<BYTE*>(module);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS64*>(
        base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    auto* exports = reinterpret_cast<IMAGE_EXPORT_DIRECTORY*>(
        base + nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT].VirtualAddress);
    auto* names = reinterpret_cast<DWORD*>(base + exports->AddressOfNames);
    auto* ordinals = reinterpret_cast<WORD*>(base + exports->AddressOfNameOrdinals);
    auto* functions = reinterpret_cast<DWORD*>(base + exports->AddressOfFunctions);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        if (name == reinterpret_cast<const char*>(base + names[i])) {
            DWORD* slot = &functions[ordinals[i]];
            DWORD previous = 0;
            VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &previous);
            *slot = 0;
            VirtualProtect(slot, sizeof *slot, previous, &previous);
        }
    }
}

LPSTR handOut(const void* data, DWORD bytes) {
    void* buffer = HeapAlloc(GetProcessHeap(), 0, bytes);
    std::memcpy(buffer, data, bytes);
    std::lock_guard<std::mutex> lock(liveMutex);
    liveBuffers.insert(buffer);
    InterlockedIncrement(&record.allocations);
    return static_cast<LPSTR>(buffer);
}

}  // namespace

extern "C" WtsDoubleRecord* wtsDoubleRecord() {
    return &record;
}

extern "C" BOOL WINAPI WTSQuerySessionInformationA(HANDLE server, DWORD session, int infoClass,
                                                   LPSTR* buffer, DWORD* bytes) {
    LONG call = InterlockedIncrement(&record.queries);
    if (call <= 2) {
        record.infoClasses[call - 1] = infoClass;
    }
    record.lastServer = server;
    record.lastSession = session;
    if (!environment("WTS_DOUBLE_FAIL").empty()) {
        return FALSE;
    }
    if (infoClass == 4) {
        DWORD id = std::strtoul(environment("WTS_DOUBLE_SESSION_ID").c_str(), nullptr, 10);
        *buffer = handOut(&id, sizeof id);
        *bytes = sizeof id;
        return TRUE;
    }
    if (infoClass == 10) {
        std::string name = environment("WTS_DOUBLE_CLIENT_NAME");
        *bytes = static_cast<DWORD>(name.size() + 1);
        *buffer = handOut(name.c_str(), *bytes);
        return TRUE;
    }
    return FALSE;
}

extern "C" void WINAPI WTSFreeMemory(void* memory) {
    std::lock_guard<std::mutex> lock(liveMutex);
    if (liveBuffers.erase(memory) == 0) {
        InterlockedIncrement(&record.strayReleases);
        return;
    }
    InterlockedIncrement(&record.releases);
    HeapFree(GetProcessHeap(), 0, memory);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        std::string hidden = environment("WTS_DOUBLE_HIDE");
        if (!hidden.empty()) {
            hideExport(module, hidden);
        }
    }
    return TRUE;
}

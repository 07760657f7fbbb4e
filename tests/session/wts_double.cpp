// A stand-in for the Terminal Services library "wtsapi32.dll", which the session tests hand to
// the library in place of the system's copy. Its answers come from the environment of the
// process that loads it:
//   WTS_DOUBLE_HIDE         an export that GetProcAddress shall not find
//   WTS_DOUBLE_FAIL         when set, every query fails
//   WTS_DOUBLE_SESSION_ID   the session id (decimal)
//   WTS_DOUBLE_CLIENT_NAME  the client name, handed back in UTF-16 (empty when unset)
//   WTS_DOUBLE_BYTES        the length every query reports, and hands back of its answer
//                           (decimal, in bytes; by default the whole answer, a name with its
//                           terminator)
// Every buffer it hands back ends where an inaccessible page begins, so that a read past it
// faults, and is tracked until WTSFreeMemory releases it.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "wts_double.h"

namespace {

constexpr DWORD pageSize = 4096;

WtsDoubleRecord record{};
std::mutex liveMutex;
std::map<void*, void*> liveBuffers;  // block handed back: its allocation

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

// Hands back the answer `data` of `size` bytes, or as many of its bytes as WTS_DOUBLE_BYTES
// says, in a block of exactly that length.
BOOL handOut(const void* data, DWORD size, LPWSTR* buffer, DWORD* bytes) {
    std::string reported = environment("WTS_DOUBLE_BYTES");
    *bytes = reported.empty() ? size : std::strtoul(reported.c_str(), nullptr, 10);
    auto* pages =
        static_cast<char*>(VirtualAlloc(nullptr, 2 * pageSize, MEM_RESERVE, PAGE_NOACCESS));
    VirtualAlloc(pages, pageSize, MEM_COMMIT, PAGE_READWRITE);
    *buffer = reinterpret_cast<LPWSTR>(pages + pageSize - *bytes);
    std::memcpy(*buffer, data, std::min(*bytes, size));
    std::lock_guard<std::mutex> lock(liveMutex);
    liveBuffers.emplace(*buffer, pages);
    InterlockedIncrement(&record.allocations);
    return TRUE;
}

}  // namespace

extern "C" WtsDoubleRecord* wtsDoubleRecord() {
    return &record;
}

extern "C" BOOL WINAPI WTSQuerySessionInformationW(HANDLE server, DWORD session, int infoClass,
                                                   LPWSTR* buffer, DWORD* bytes) {
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
        return handOut(&id, sizeof id, buffer, bytes);
    }
    if (infoClass == 10) {
        wchar_t name[256] = {};
        DWORD length = GetEnvironmentVariableW(L"WTS_DOUBLE_CLIENT_NAME", name, 256);
        length = length < 256 ? length : 0;
        return handOut(name, (length + 1) * sizeof(wchar_t), buffer, bytes);
    }
    return FALSE;
}

extern "C" void WINAPI WTSFreeMemory(void* memory) {
    std::lock_guard<std::mutex> lock(liveMutex);
    auto live = liveBuffers.find(memory);
    if (live == liveBuffers.end()) {
        InterlockedIncrement(&record.strayReleases);
        return;
    }
    InterlockedIncrement(&record.releases);
    VirtualFree(live->second, 0, MEM_RELEASE);
    liveBuffers.erase(live);
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

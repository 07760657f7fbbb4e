// Reading a loaded module's own PE headers: its directories and what their addresses point at.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace jnitest {

// The object at relative virtual address `rva` of the loaded module.
template <typename T>
T* imageAt(HMODULE module, DWORD rva) {
    return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(module) + rva);
}

inline IMAGE_NT_HEADERS64* ntHeaders(HMODULE module) {
    return imageAt<IMAGE_NT_HEADERS64>(module, imageAt<IMAGE_DOS_HEADER>(module, 0)->e_lfanew);
}

// A data directory entry, such as IMAGE_DIRECTORY_ENTRY_EXPORT.
inline const IMAGE_DATA_DIRECTORY& dataDirectory(HMODULE module, int index) {
    return ntHeaders(module)->OptionalHeader.DataDirectory[index];
}

// The fields of a 64-bit load configuration directory that the tests read, at their offsets in
// the Windows 10 SDK's IMAGE_LOAD_CONFIG_DIRECTORY64 (the C runtime's headers end before them).
struct LoadConfig64 {
    DWORD size;
    BYTE unread[0x4e - 0x04];
    WORD dependentLoadFlags;
    ULONGLONG editList;
    ULONGLONG securityCookie;  // address of the stack canary
    ULONGLONG seHandlerTable;
    ULONGLONG seHandlerCount;
    ULONGLONG guardCheckFunctionPointer;
    ULONGLONG guardDispatchFunctionPointer;  // address of the dispatch pointer
    ULONGLONG guardFunctionTable;
    ULONGLONG guardFunctionCount;
    DWORD guardFlags;
};
static_assert(sizeof(LoadConfig64) == 0x98, "GuardFlags ends at 0x94");

inline const LoadConfig64* loadConfig(HMODULE module) {
    return imageAt<LoadConfig64>(
        module, dataDirectory(module, IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG).VirtualAddress);
}

// The names the module exports, in the order of its name table.
inline std::vector<std::string> exportNames(HMODULE module) {
    const IMAGE_DATA_DIRECTORY& entry = dataDirectory(module, IMAGE_DIRECTORY_ENTRY_EXPORT);
    auto* exports = imageAt<IMAGE_EXPORT_DIRECTORY>(module, entry.VirtualAddress);
    auto* names = imageAt<DWORD>(module, exports->AddressOfNames);
    std::vector<std::string> result;
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        result.emplace_back(imageAt<char>(module, names[i]));
    }
    return result;
}

}  // namespace jnitest

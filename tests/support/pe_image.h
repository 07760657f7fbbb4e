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

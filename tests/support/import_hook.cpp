#include "import_hook.h"

#include <gtest/gtest.h>

namespace jnitest {

namespace {

template <typename T>
T* at(HMODULE module, DWORD offset) {
    return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(module) + offset);
}

}  // namespace

void** findImportSlot(HMODULE module, const char* dll, const char* function) {
    auto* dos = at<IMAGE_DOS_HEADER>(module, 0);
    auto* nt = at<IMAGE_NT_HEADERS64>(module, dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0) {
        return nullptr;
    }
    for (auto* entry = at<IMAGE_IMPORT_DESCRIPTOR>(module, directory.VirtualAddress);
         entry->Name != 0; ++entry) {
        if (lstrcmpiA(at<char>(module, entry->Name), dll) != 0) {
            continue;
        }
        auto* names = at<IMAGE_THUNK_DATA64>(module, entry->OriginalFirstThunk);
        auto* slots = at<IMAGE_THUNK_DATA64>(module, entry->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL64(names->u1.Ordinal)) {
                continue;
            }
            auto* byName = at<IMAGE_IMPORT_BY_NAME>(module, names->u1.AddressOfData);
            if (lstrcmpA(reinterpret_cast<const char*>(byName->Name), function) == 0) {
                return reinterpret_cast<void**>(&slots->u1.Function);
            }
        }
    }
    return nullptr;
}

namespace {

void writeSlot(void** slot, void* value) {
    DWORD previous = 0;
    VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &previous);
    *slot = value;
    VirtualProtect(slot, sizeof *slot, previous, &previous);
}

}  // namespace

void* redirectImport(HMODULE module, const char* dll, const char* function,
                     const void* replacement) {
    void** slot = findImportSlot(module, dll, function);
    EXPECT_NE(slot, nullptr) << "the module does not import " << dll << "!" << function;
    if (slot == nullptr) {
        return nullptr;
    }
    void* original = *slot;
    writeSlot(slot, const_cast<void*>(replacement));
    return original;
}

ImportHook::ImportHook(HMODULE module, const char* dll, const char* function,
                       const void* replacement)
    : slot_(findImportSlot(module, dll, function)),
      original_(redirectImport(module, dll, function, replacement)) {}

ImportHook::~ImportHook() {
    if (slot_ != nullptr) {
        writeSlot(slot_, original_);
    }
}

}  // namespace jnitest

#include "import_hook.h"

#include <gtest/gtest.h>

#include "pe_image.h"

namespace jnitest {

void** findImportSlot(HMODULE module, const char* dll, const char* function) {
    const IMAGE_DATA_DIRECTORY& directory = dataDirectory(module, IMAGE_DIRECTORY_ENTRY_IMPORT);
    if (directory.VirtualAddress == 0) {
        return nullptr;
    }
    for (auto* entry = imageAt<IMAGE_IMPORT_DESCRIPTOR>(module, directory.VirtualAddress);
         entry->Name != 0; ++entry) {
        if (lstrcmpiA(imageAt<char>(module, entry->Name), dll) != 0) {
            continue;
        }
        auto* names = imageAt<IMAGE_THUNK_DATA64>(module, entry->OriginalFirstThunk);
        auto* slots = imageAt<IMAGE_THUNK_DATA64>(module, entry->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL64(names->u1.Ordinal)) {
                continue;
            }
            auto* byName = imageAt<IMAGE_IMPORT_BY_NAME>(module, names->u1.AddressOfData);
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

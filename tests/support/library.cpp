#include "library.h"

#include <gtest/gtest.h>

#include "guarded_heap.h"

namespace jnitest {

Library::Library(const char* path) : module_(LoadLibraryA(path)) {
    EXPECT_NE(module_, nullptr) << "LoadLibraryA(" << path << ") failed: " << GetLastError();
    if (module_ != nullptr) {
        useGuardedHeap(module_);
    }
}

Library::~Library() {
    if (module_ != nullptr) {
        FreeLibrary(module_);
    }
}

FARPROC Library::address(const char* name) const {
    FARPROC found = module_ != nullptr ? GetProcAddress(module_, name) : nullptr;
    EXPECT_NE(found, nullptr) << "missing export " << name;
    return found;
}

}  // namespace jnitest

// The library under test, loaded into the test process with LoadLibraryA, its heap blocks
// taken from the guarded heap (guarded_heap.h).
#pragma once

#include <windows.h>

namespace jnitest {

class Library {
public:
    explicit Library(const char* path = "ulvexwin64.dll");
    ~Library();  // FreeLibrary
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    HMODULE handle() const { return module_; }

    // An export by name; fails the running test when it is missing.
    template <typename Function>
    Function* get(const char* name) const {
        return reinterpret_cast<Function*>(reinterpret_cast<void*>(address(name)));
    }
    // The same, typed after a declaration: lib.fn(Java_..._keyCreate, "Java_..._keyCreate").
    template <typename Function>
    Function* fn(Function*, const char* name) const {
        return get<Function>(name);
    }

private:
    FARPROC address(const char* name) const;
    HMODULE module_;
};

}  // namespace jnitest

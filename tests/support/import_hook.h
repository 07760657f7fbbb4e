// Import interception: replaces one entry of a loaded module's import address table, so that
// the module's calls of that Windows function reach a replacement of the test's, and restores
// the entry when the hook goes out of scope.
#pragma once

#include <windows.h>

namespace jnitest {

class ImportHook {
public:
    // `dll` is matched without regard to case ("ADVAPI32.dll"); `function` by its import name.
    // Fails the running test when the module does not import the function.
    ImportHook(HMODULE module, const char* dll, const char* function, const void* replacement);
    template <typename Function>
    ImportHook(HMODULE module, const char* dll, const char* function, Function* replacement)
        : ImportHook(module, dll, function, reinterpret_cast<const void*>(replacement)) {}
    ~ImportHook();
    ImportHook(const ImportHook&) = delete;
    ImportHook& operator=(const ImportHook&) = delete;

    // The address the entry held before: the real Windows function.
    template <typename Function>
    Function* original() const {
        return reinterpret_cast<Function*>(original_);
    }

private:
    void** slot_;
    void* original_;
};

// Points the import at `replacement` without restoring it: for a module that is unloaded while
// redirected. Returns the address the entry held, or null when there is no such import.
void* redirectImport(HMODULE module, const char* dll, const char* function,
                     const void* replacement);

// Finds the import address table entry of `dll!function` in `module`, or null.
void** findImportSlot(HMODULE module, const char* dll, const char* function);

}  // namespace jnitest

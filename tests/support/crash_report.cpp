// Linked into every test program: a crash ends the program at once with the exception's code
// and address on stderr, instead of waiting for a debugger or an error dialog.
#include <windows.h>

#include <cstdio>

namespace {

LONG WINAPI reportCrash(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    HMODULE module = nullptr;
    char name[MAX_PATH] = "?";
    if (GetModuleHandleExA(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            static_cast<LPCSTR>(record->ExceptionAddress), &module)) {
        GetModuleFileNameA(module, name, sizeof name);
    }
    const char* file = name;
    for (const char* c = name; *c != '\0'; ++c) {
        file = *c == '\\' || *c == '/' ? c + 1 : file;
    }
    std::fprintf(stderr, "unhandled exception 0x%08lX at %s+0x%llx (%p)\n", record->ExceptionCode,
                 file,
                 static_cast<unsigned long long>(static_cast<BYTE*>(record->ExceptionAddress) -
                                                 reinterpret_cast<BYTE*>(module)),
                 record->ExceptionAddress);
    std::fflush(stderr);
    return EXCEPTION_EXECUTE_HANDLER;
}

[[maybe_unused]] const LPTOP_LEVEL_EXCEPTION_FILTER installed =
    SetUnhandledExceptionFilter(reportCrash);

}  // namespace

// Addresses in the DLL resolved through dbghelp from the PDB beside it, as a crash log, a
// debugger or an error report names the library's frames.
#include <gtest/gtest.h>

#include <windows.h>

#include <dbghelp.h>

#include <algorithm>
#include <string>

#include "library.h"

namespace {

struct NamedExport {
    const char* name;
    const char* source;  // path below the source tree, with forward slashes
};

std::string withForwardSlashes(std::string path) {
    for (char& c : path) {
        c = c == '\\' ? '/' : c;
    }
    return path;
}

TEST(Symbols, AddressInsideAnExportNamesItsFunctionFileAndLineFromThePdb) {
    jnitest::Library library;
    HANDLE process = GetCurrentProcess();
    SymSetOptions(SYMOPT_LOAD_LINES | SYMOPT_FAIL_CRITICAL_ERRORS);
    ASSERT_TRUE(SymInitialize(process, nullptr, FALSE));
    char path[MAX_PATH] = {};
    GetModuleFileNameA(library.handle(), path, MAX_PATH);
    DWORD64 base = SymLoadModuleEx(process, nullptr, path, nullptr,
                                   reinterpret_cast<DWORD64>(library.handle()), 0, nullptr, 0);
    ASSERT_NE(base, 0u) << GetLastError();
    IMAGEHLP_MODULE64 module{};
    module.SizeOfStruct = sizeof module;
    ASSERT_TRUE(SymGetModuleInfo64(process, base, &module));
    EXPECT_EQ(module.SymType, SymPdb);
    std::string pdb = withForwardSlashes(module.LoadedPdbName);
    EXPECT_EQ(pdb.substr(pdb.rfind('/') + 1), "ulvexwin64.pdb") << pdb;

    const NamedExport exports[] = {
        {"Java_com_ulvex_kesp_tavik_common_win32_Registry_keyGetValue", "src/registry/values.cpp"},
        {"Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_read", "src/pipe/pipe.cpp"},
        {"Java_com_ulvex_kesp_tavik_common_win32_Environment_getEnvironmentVariable",
         "src/environment/environment.cpp"},
    };
    for (const NamedExport& expected : exports) {
        auto address = reinterpret_cast<DWORD64>(GetProcAddress(library.handle(), expected.name));
        ASSERT_NE(address, 0u) << expected.name;
        address += 4;
        alignas(SYMBOL_INFO) char buffer[sizeof(SYMBOL_INFO) + MAX_SYM_NAME] = {};
        auto* symbol = reinterpret_cast<SYMBOL_INFO*>(buffer);
        symbol->SizeOfStruct = sizeof(SYMBOL_INFO);
        symbol->MaxNameLen = MAX_SYM_NAME;
        DWORD64 displacement = 0;
        ASSERT_TRUE(SymFromAddr(process, address, &displacement, symbol)) << expected.name;
        EXPECT_STREQ(symbol->Name, expected.name);
        EXPECT_EQ(displacement, 4u);

        IMAGEHLP_LINE64 line{};
        line.SizeOfStruct = sizeof line;
        DWORD column = 0;
        ASSERT_TRUE(SymGetLineFromAddr64(process, address, &column, &line)) << expected.name;
        std::string file = withForwardSlashes(line.FileName);
        std::string tail = std::string("/ulvexwin64/") + expected.source;
        EXPECT_EQ(file.substr(file.size() - std::min(file.size(), tail.size())), tail) << file;
        EXPECT_GT(line.LineNumber, 0u);
    }
    SymCleanup(process);
}

}  // namespace

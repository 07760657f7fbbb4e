// The DLL as Windows sees it: its export and import directories and its version resource.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <set>
#include <string>

#include "library.h"
#include "pe_image.h"

namespace {

std::set<std::string> exportedNames(HMODULE module) {
    auto* exports = jnitest::imageAt<IMAGE_EXPORT_DIRECTORY>(
        module, jnitest::dataDirectory(module, IMAGE_DIRECTORY_ENTRY_EXPORT).VirtualAddress);
    EXPECT_EQ(exports->NumberOfFunctions, exports->NumberOfNames) << "exports without names";
    std::vector<std::string> names = jnitest::exportNames(module);
    return std::set<std::string>(names.begin(), names.end());
}

std::set<std::string> importedDlls(HMODULE module) {
    const IMAGE_DATA_DIRECTORY& entry =
        jnitest::dataDirectory(module, IMAGE_DIRECTORY_ENTRY_IMPORT);
    std::set<std::string> result;
    for (auto* import = jnitest::imageAt<IMAGE_IMPORT_DESCRIPTOR>(module, entry.VirtualAddress);
         import->Name != 0; ++import) {
        std::string name = jnitest::imageAt<char>(module, import->Name);
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        result.insert(name);
    }
    return result;
}

// The names listed under EXPORTS in the module-definition file.
std::set<std::string> definitionFileNames() {
    std::ifstream file(ULVEX_DEF_FILE);
    EXPECT_TRUE(file.is_open()) << ULVEX_DEF_FILE;
    std::set<std::string> result;
    std::string word;
    bool inExports = false;
    while (file >> word) {
        if (word == "EXPORTS") {
            inExports = true;
        } else if (inExports) {
            result.insert(word);
        }
    }
    return result;
}

std::string versionString(const char* path, const char* key) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    std::string block(size, '\0');
    if (size == 0 || !GetFileVersionInfoA(path, 0, size, block.data())) {
        return "";
    }
    void* value = nullptr;
    UINT length = 0;
    std::string query = std::string("\\StringFileInfo\\040904B0\\") + key;
    if (!VerQueryValueA(block.data(), query.c_str(), &value, &length)) {
        return "";
    }
    return static_cast<const char*>(value);
}

TEST(ModuleTest, ExportsExactlyTheNamesOfTheDefinitionFile) {
    jnitest::Library library;
    std::set<std::string> expected = definitionFileNames();
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(exportedNames(library.handle()), expected);
    for (const std::string& name : expected) {
        EXPECT_EQ(name.rfind("Java_com_ulvex_kesp_tavik_common_", 0), 0u) << name;
    }
}

TEST(ModuleTest, ImportsOnlyWindowsSystemLibraries) {
    const std::set<std::string> system = {"kernel32.dll", "user32.dll", "advapi32.dll",
                                          "shlwapi.dll",  "ole32.dll",  "msvcrt.dll"};
    jnitest::Library library;
    std::set<std::string> imported = importedDlls(library.handle());
    EXPECT_TRUE(imported.count("kernel32.dll"));
    for (const std::string& name : imported) {
        EXPECT_TRUE(system.count(name)) << "imports " << name;
    }
}

TEST(ModuleTest, VersionResourceNamesTheLibrary) {
    EXPECT_EQ(versionString("ulvexwin64.dll", "OriginalFilename"), "ulvexwin64.dll");
    EXPECT_EQ(versionString("ulvexwin64.dll", "InternalName"), "ulvexwin64");
    EXPECT_NE(versionString("ulvexwin64.dll", "FileDescription"), "");
    EXPECT_EQ(versionString("ulvexwin64.dll", "FileVersion"), ULVEX_VERSION);
}

}  // namespace

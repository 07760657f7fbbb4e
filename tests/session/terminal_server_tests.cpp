// TerminalServer.isTerminalServer: which detection the reported Windows version selects, the
// verification through VerifyVersionInfoA, and the product-suite list in the registry. The
// registry is this process's own: HKEY_LOCAL_MACHINE is mapped onto a scratch key.
#include <com_ulvex_kesp_tavik_common_win32_TerminalServer.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "import_hook.h"
#include "jni_host.h"
#include "library.h"

namespace {

using SetConditionMask = ULONGLONG(WINAPI*)(ULONGLONG, DWORD, BYTE);

// What the interceptions answer and what they saw.
struct Interception {
    bool versionSucceeds = true;
    DWORD platform = VER_PLATFORM_WIN32_NT;
    DWORD major = 10;
    DWORD versionSizeSeen = 0;

    std::string missingLookup;  // a module or function name whose lookup yields null
    std::vector<std::string> lookups;
    std::vector<ULONGLONG> maskArguments;  // mask, type, condition of VerSetConditionMask
    BOOL verifyAnswer = 1;
    int verifyCalls = 0;
    std::array<BYTE, 156> verifyRecord{};
    DWORD verifyType = 0;
    ULONGLONG verifyMask = 0;

    std::string missingKey;  // a key name whose RegOpenKeyA fails with 2
    std::vector<std::string> openedNames;
    std::vector<HKEY> openedParents;
    std::vector<HKEY> openedKeys;
    std::vector<HKEY> closedKeys;
    DWORD stuckSize = 0;  // when set, RegQueryValueExA asks for this many bytes, again and again
    int suiteReads = 0;
};

Interception seen;

SetConditionMask realSetConditionMask() {
    return reinterpret_cast<SetConditionMask>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "VerSetConditionMask")));
}

BOOL WINAPI fakeGetVersionExA(OSVERSIONINFOA* version) {
    seen.versionSizeSeen = version->dwOSVersionInfoSize;
    if (!seen.versionSucceeds) {
        return FALSE;
    }
    version->dwPlatformId = seen.platform;
    version->dwMajorVersion = seen.major;
    version->dwMinorVersion = 0;
    return TRUE;
}

HMODULE WINAPI fakeGetModuleHandleA(const char* name) {
    seen.lookups.push_back(std::string("module ") + name);
    return seen.missingLookup == name ? nullptr : GetModuleHandleA(name);
}

ULONGLONG WINAPI fakeSetConditionMask(ULONGLONG mask, DWORD type, BYTE condition) {
    seen.maskArguments = {mask, type, condition};
    return realSetConditionMask()(mask, type, condition);
}

BOOL WINAPI fakeVerifyVersionInfoA(OSVERSIONINFOEXA* record, DWORD type, DWORDLONG mask) {
    ++seen.verifyCalls;
    std::memcpy(seen.verifyRecord.data(), record, seen.verifyRecord.size());
    seen.verifyType = type;
    seen.verifyMask = mask;
    return seen.verifyAnswer;
}

FARPROC WINAPI fakeGetProcAddress(HMODULE module, const char* name) {
    if (HIWORD(reinterpret_cast<ULONG_PTR>(name)) == 0) {
        return GetProcAddress(module, name);
    }
    seen.lookups.push_back(std::string("function ") + name);
    if (seen.missingLookup == name) {
        return nullptr;
    }
    if (std::strcmp(name, "VerSetConditionMask") == 0) {
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&fakeSetConditionMask));
    }
    if (std::strcmp(name, "VerifyVersionInfoA") == 0) {
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&fakeVerifyVersionInfoA));
    }
    return GetProcAddress(module, name);
}

LONG WINAPI fakeRegOpenKeyA(HKEY parent, const char* name, HKEY* key) {
    if (seen.missingKey == name) {
        return ERROR_FILE_NOT_FOUND;
    }
    LONG status = RegOpenKeyA(parent, name, key);
    if (status == ERROR_SUCCESS) {
        seen.openedNames.push_back(name);
        seen.openedParents.push_back(parent);
        seen.openedKeys.push_back(*key);
    }
    return status;
}

LONG WINAPI fakeRegCloseKey(HKEY key) {
    seen.closedKeys.push_back(key);
    return RegCloseKey(key);
}

// Past this many reads a stuck value reports itself missing, so that a search that would never
// end shows as a count.
constexpr int stuckReadLimit = 20;

LONG WINAPI fakeRegQueryValueExA(HKEY key, const char* name, DWORD* reserved, DWORD* type,
                                 BYTE* data, DWORD* size) {
    ++seen.suiteReads;
    if (seen.stuckSize == 0) {
        return RegQueryValueExA(key, name, reserved, type, data, size);
    }
    *size = seen.stuckSize;
    return seen.suiteReads < stuckReadLimit ? ERROR_MORE_DATA : ERROR_FILE_NOT_FOUND;
}

constexpr char productOptionsPath[] = "SYSTEM\\CurrentControlSet\\Control\\ProductOptions";

// HKEY_LOCAL_MACHINE of this process mapped onto a scratch key below HKEY_CURRENT_USER that holds
// an empty ProductOptions key: the machine's own keys are never written. Removed at the end.
class PrivateMachineRoot {
public:
    PrivateMachineRoot()
        : path_("Software\\UlvexTerminalServerTest-" + std::to_string(GetCurrentProcessId())) {
        RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &root_, nullptr);
        RegCreateKeyExA(root_, productOptionsPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &productOptions_, nullptr);
        overridden_ = RegOverridePredefKey(HKEY_LOCAL_MACHINE, root_) == ERROR_SUCCESS;
    }
    ~PrivateMachineRoot() {
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
        RegCloseKey(productOptions_);
        RegCloseKey(root_);
        RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str());
    }
    PrivateMachineRoot(const PrivateMachineRoot&) = delete;
    PrivateMachineRoot& operator=(const PrivateMachineRoot&) = delete;

    bool ready() const { return productOptions_ != nullptr && overridden_; }
    void writeSuite(DWORD type, const std::string& data) {
        ASSERT_EQ(RegSetValueExA(productOptions_, "ProductSuite", 0, type,
                                 reinterpret_cast<const BYTE*>(data.data()),
                                 static_cast<DWORD>(data.size())),
                  ERROR_SUCCESS);
    }

private:
    std::string path_;
    HKEY root_ = nullptr;
    HKEY productOptions_ = nullptr;
    bool overridden_ = false;
};

// The library with every Windows call of the detection intercepted.
class Detection : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(machine.ready());
        seen = Interception{};
        HMODULE module = library.handle();
        hooks.emplace_back(
            new jnitest::ImportHook(module, "KERNEL32.dll", "GetVersionExA", &fakeGetVersionExA));
        hooks.emplace_back(new jnitest::ImportHook(module, "KERNEL32.dll", "GetModuleHandleA",
                                                   &fakeGetModuleHandleA));
        hooks.emplace_back(
            new jnitest::ImportHook(module, "KERNEL32.dll", "GetProcAddress", &fakeGetProcAddress));
        hooks.emplace_back(
            new jnitest::ImportHook(module, "ADVAPI32.dll", "RegOpenKeyA", &fakeRegOpenKeyA));
        hooks.emplace_back(
            new jnitest::ImportHook(module, "ADVAPI32.dll", "RegCloseKey", &fakeRegCloseKey));
        hooks.emplace_back(new jnitest::ImportHook(module, "ADVAPI32.dll", "RegQueryValueExA",
                                                   &fakeRegQueryValueExA));
    }

    bool isTerminalServer() {
        jboolean answer = host.call(isTerminalServerExport);
        EXPECT_TRUE(answer == JNI_TRUE || answer == JNI_FALSE);
        return answer == JNI_TRUE;
    }

    PrivateMachineRoot machine;
    jnitest::Library library;
    jnitest::JniHost host;
    decltype(&Java_com_ulvex_kesp_tavik_common_win32_TerminalServer_isTerminalServer)
        isTerminalServerExport =
            library.fn(Java_com_ulvex_kesp_tavik_common_win32_TerminalServer_isTerminalServer,
                       "Java_com_ulvex_kesp_tavik_common_win32_TerminalServer_isTerminalServer");
    std::vector<std::unique_ptr<jnitest::ImportHook>> hooks;
};

// --- Classification: the reported version picks the method ---------------------------------

enum class Method { none, registry, verification };

struct VersionCase {
    const char* name;
    bool succeeds;
    DWORD platform;
    DWORD major;
    Method method;
};

class Classification : public Detection, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(Classification, ChoosesTheMethodByPlatformAndMajorVersion) {
    const VersionCase& version = GetParam();
    machine.writeSuite(REG_SZ, std::string("Terminal Server\0", 16));
    seen.versionSucceeds = version.succeeds;
    seen.platform = version.platform;
    seen.major = version.major;

    bool answer = isTerminalServer();

    EXPECT_EQ(seen.versionSizeSeen, 148u);
    EXPECT_EQ(answer, version.method != Method::none);
    EXPECT_EQ(seen.suiteReads == 1 && seen.openedNames.size() == 4,
              version.method == Method::registry);
    EXPECT_EQ(seen.verifyCalls == 1, version.method == Method::verification);
    if (version.method != Method::registry) {
        EXPECT_TRUE(seen.openedNames.empty());
        EXPECT_EQ(seen.suiteReads, 0);
    }
    if (version.method != Method::verification) {
        EXPECT_TRUE(seen.lookups.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Versions, Classification,
    ::testing::Values(VersionCase{"call_fails", false, VER_PLATFORM_WIN32_NT, 5, Method::none},
                      VersionCase{"win32s_3", true, VER_PLATFORM_WIN32s, 3, Method::none},
                      VersionCase{"win32s_5", true, VER_PLATFORM_WIN32s, 5, Method::none},
                      VersionCase{"windows95_4", true, VER_PLATFORM_WIN32_WINDOWS, 4, Method::none},
                      VersionCase{"windows95_6", true, VER_PLATFORM_WIN32_WINDOWS, 6, Method::none},
                      VersionCase{"nt_3", true, VER_PLATFORM_WIN32_NT, 3, Method::registry},
                      VersionCase{"nt_4", true, VER_PLATFORM_WIN32_NT, 4, Method::registry},
                      VersionCase{"nt_5", true, VER_PLATFORM_WIN32_NT, 5, Method::verification},
                      VersionCase{"nt_6", true, VER_PLATFORM_WIN32_NT, 6, Method::verification},
                      VersionCase{"nt_10", true, VER_PLATFORM_WIN32_NT, 10, Method::verification},
                      VersionCase{"unknown_platform_4", true, 3, 4, Method::none},
                      VersionCase{"unknown_platform_10", true, 3, 10, Method::none}),
    [](const ::testing::TestParamInfo<VersionCase>& info) { return info.param.name; });

// --- Verification method ----------------------------------------------------------------------

struct LookupCase {
    const char* name;
    const char* missing;
    size_t lookupsMade;
};

class Lookups : public Detection, public ::testing::WithParamInterface<LookupCase> {};

TEST_P(Lookups, AMissingModuleOrFunctionAnswersFalse) {
    const LookupCase& lookup = GetParam();
    seen.missingLookup = lookup.missing;

    bool answer = isTerminalServer();

    const std::vector<std::string> all{"module ntdll.dll", "function VerSetConditionMask",
                                       "module KERNEL32.DLL", "function VerifyVersionInfoA"};
    EXPECT_EQ(seen.lookups,
              std::vector<std::string>(all.begin(), all.begin() + lookup.lookupsMade));
    bool complete = lookup.lookupsMade == all.size() && seen.missingLookup.empty();
    EXPECT_EQ(answer, complete);
    EXPECT_EQ(seen.verifyCalls, complete ? 1 : 0);
    EXPECT_EQ(seen.maskArguments.empty(), lookup.lookupsMade < 3);
}

INSTANTIATE_TEST_SUITE_P(
    Verification, Lookups,
    ::testing::Values(LookupCase{"none_missing", "", 4},
                      LookupCase{"ntdll_missing", "ntdll.dll", 1},
                      LookupCase{"mask_function_missing", "VerSetConditionMask", 2},
                      LookupCase{"kernel32_missing", "KERNEL32.DLL", 3},
                      LookupCase{"verify_function_missing", "VerifyVersionInfoA", 4}),
    [](const ::testing::TestParamInfo<LookupCase>& info) { return info.param.name; });

class Verification : public Detection, public ::testing::WithParamInterface<BOOL> {};

TEST_P(Verification, OnlyAnAnswerOfOneIsTrueAndTheArgumentsAskForTheTerminalSuite) {
    seen.verifyAnswer = GetParam();

    bool answer = isTerminalServer();

    EXPECT_EQ(answer, GetParam() == 1);
    ASSERT_EQ(seen.verifyCalls, 1);
    std::array<BYTE, 156> expected{};
    expected[0] = 156;     // dwOSVersionInfoSize
    expected[152] = 0x10;  // wSuiteMask: VER_SUITE_TERMINAL
    EXPECT_EQ(seen.verifyRecord, expected);
    EXPECT_EQ(seen.verifyType, 0x40u);
    EXPECT_EQ(seen.maskArguments, (std::vector<ULONGLONG>{0, 0x40, 6}));
    EXPECT_EQ(seen.verifyMask, realSetConditionMask()(0, 0x40, 6));
}

INSTANTIATE_TEST_SUITE_P(Answers, Verification, ::testing::Values(1, 0, 2));

// --- Registry method ---------------------------------------------------------------------------

struct SuiteCase {
    const char* name;
    bool present;
    DWORD type;
    std::string data;
    bool expected;
    DWORD stuckSize = 0;  // the registry asks for this size at every read
};

std::string names(std::initializer_list<std::string> list) {
    std::string joined;
    for (const std::string& name : list) {
        joined += name;
        joined += '\0';
    }
    return joined + '\0';
}

// Windows NT 4 reported, so that the product-suite list decides.
class RegistryMethod : public Detection {
protected:
    void SetUp() override {
        Detection::SetUp();
        seen.platform = VER_PLATFORM_WIN32_NT;
        seen.major = 4;
    }

    // SYSTEM, CurrentControlSet, Control and ProductOptions opened one below the other, and
    // every key that opened closed again, in reverse order.
    void expectKeysClosedInReverse(size_t keysOpened) {
        const std::vector<std::string> path{"SYSTEM", "CurrentControlSet", "Control",
                                            "ProductOptions"};
        EXPECT_EQ(seen.openedNames,
                  std::vector<std::string>(path.begin(), path.begin() + keysOpened));
        ASSERT_EQ(seen.openedParents.size(), keysOpened);
        for (size_t level = 0; level < keysOpened; ++level) {
            HKEY parent =
                level == 0
                    ? reinterpret_cast<HKEY>(static_cast<LONG_PTR>(static_cast<LONG>(0x80000002)))
                    : seen.openedKeys[level - 1];
            EXPECT_EQ(seen.openedParents[level], parent) << "level " << level;
        }
        EXPECT_EQ(seen.closedKeys,
                  std::vector<HKEY>(seen.openedKeys.rbegin(), seen.openedKeys.rend()));
    }
};

class ProductSuite : public RegistryMethod, public ::testing::WithParamInterface<SuiteCase> {};

TEST_P(ProductSuite, OnlyAFirstNameOfTerminalServerAnswersTrue) {
    const SuiteCase& suite = GetParam();
    if (suite.present) {
        machine.writeSuite(suite.type, suite.data);
    }
    seen.stuckSize = suite.stuckSize;

    EXPECT_EQ(isTerminalServer(), suite.expected);
    expectKeysClosedInReverse(4);
    // A value longer than the 255-byte buffer is read once more, whole; a size that does not
    // grow ends the search there.
    bool reread = suite.data.size() > 255 || suite.stuckSize != 0;
    EXPECT_EQ(seen.suiteReads, reread ? 2 : 1);
}

const std::string longerNames(300, 'x');

INSTANTIATE_TEST_SUITE_P(
    Values, ProductSuite,
    ::testing::Values(
        SuiteCase{"first", true, REG_MULTI_SZ, names({"Terminal Server"}), true},
        SuiteCase{"first_of_several", true, REG_MULTI_SZ,
                  names({"Terminal Server", "Small Business"}), true},
        SuiteCase{"later", true, REG_MULTI_SZ, names({"Small Business", "Terminal Server"}), false},
        SuiteCase{"other_case", true, REG_MULTI_SZ, names({"terminal server"}), false},
        SuiteCase{"continued", true, REG_MULTI_SZ, names({"Terminal Server Edition"}), false},
        SuiteCase{"plain_string", true, REG_SZ, std::string("Terminal Server\0", 16), true},
        SuiteCase{"binary_without_terminator", true, REG_BINARY, "Terminal Server", true},
        SuiteCase{"binary_255_without_terminator", true, REG_BINARY,
                  "Terminal Server" + std::string(240, 'x'), false},
        SuiteCase{"long_first", true, REG_MULTI_SZ, names({"Terminal Server", longerNames}), true},
        SuiteCase{"long_later", true, REG_MULTI_SZ, names({longerNames, "Terminal Server"}), false},
        SuiteCase{"long_continued", true, REG_MULTI_SZ, names({"Terminal Server" + longerNames}),
                  false},
        SuiteCase{"long_binary_without_terminator", true, REG_BINARY,
                  "Terminal Server" + longerNames, false},
        SuiteCase{"missing", false, REG_NONE, "", false},
        SuiteCase{"size_not_growing", false, REG_NONE, "", false, 300}),
    [](const ::testing::TestParamInfo<SuiteCase>& info) { return info.param.name; });

LPVOID WINAPI refusedHeapAlloc(HANDLE, DWORD, SIZE_T) {
    return nullptr;
}

TEST_F(RegistryMethod, ALongSuiteWithoutMemoryAnswersFalseAndClosesEveryKey) {
    machine.writeSuite(REG_MULTI_SZ, names({"Terminal Server", longerNames}));
    jnitest::ImportHook refused(library.handle(), "KERNEL32.dll", "HeapAlloc", &refusedHeapAlloc);

    EXPECT_FALSE(isTerminalServer());
    EXPECT_EQ(seen.suiteReads, 1);
    expectKeysClosedInReverse(4);
}

TEST_F(RegistryMethod, AMissingProductOptionsKeyAnswersFalseAndClosesTheOthers) {
    machine.writeSuite(REG_MULTI_SZ, names({"Terminal Server"}));
    seen.missingKey = "ProductOptions";

    EXPECT_FALSE(isTerminalServer());
    EXPECT_EQ(seen.suiteReads, 0);
    expectKeysClosedInReverse(3);
}

}  // namespace

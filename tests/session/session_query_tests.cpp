// The session-query loader and TerminalServer.getSessionId / getClientName, against the suite's
// stand-in for "wtsapi32.dll", which the loader is handed in place of the system's copy. The
// loader runs only while the library loads, so every test here runs in a process of its own
// (one ctest test per gtest filter).
#include <com_ulvex_kesp_tavik_common_win32_TerminalServer.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "import_hook.h"
#include "jni_host.h"
#include "library.h"
#include "load_interception.h"
#include "wts_double.h"

namespace {

using GetSessionId = decltype(&Java_com_ulvex_kesp_tavik_common_win32_TerminalServer_getSessionId);
using GetClientName =
    decltype(&Java_com_ulvex_kesp_tavik_common_win32_TerminalServer_getClientName);
using IsTerminalServer =
    decltype(&Java_com_ulvex_kesp_tavik_common_win32_TerminalServer_isTerminalServer);

constexpr char getSessionIdName[] =
    "Java_com_ulvex_kesp_tavik_common_win32_TerminalServer_getSessionId";
constexpr char getClientNameName[] =
    "Java_com_ulvex_kesp_tavik_common_win32_TerminalServer_getClientName";
constexpr char isTerminalServerName[] =
    "Java_com_ulvex_kesp_tavik_common_win32_TerminalServer_isTerminalServer";

// Sets the double's answers for this process, UTF-8 read into UTF-16; null removes the variable.
void answer(const char* variable, const char* value) {
    wchar_t text[256] = {};
    if (value != nullptr) {
        MultiByteToWideChar(CP_UTF8, 0, value, -1, text, 256);
    }
    SetEnvironmentVariableA(variable, nullptr);
    if (value != nullptr) {
        SetEnvironmentVariableW(std::wstring(variable, variable + std::strlen(variable)).c_str(),
                                text);
    }
}

void expectFreshProcess() {
    ASSERT_EQ(GetModuleHandleA("ulvexwin64.dll"), nullptr)
        << "the loader runs once per process: run each test with its own --gtest_filter";
    ASSERT_EQ(GetModuleHandleA("wts_double.dll"), nullptr);
}

WtsDoubleRecord* doubleRecord() {
    HMODULE module = GetModuleHandleA("wts_double.dll");
    FARPROC function = module != nullptr ? GetProcAddress(module, "wtsDoubleRecord") : nullptr;
    return function != nullptr
               ? reinterpret_cast<WtsDoubleRecordFunction>(reinterpret_cast<void (*)()>(function))()
               : nullptr;
}

// --- Scenarios: what the Terminal Services library answers -----------------------------------

struct Scenario {
    const char* name;
    const char* hide;  // export the double hides
    bool fail;         // every query fails
    const char* sessionId;
    const char* clientName;
    jint expectedId;
    const char* expectedName;     // null: a null string
    const char* bytes = nullptr;  // the length reported and handed back; null: the whole answer
};

constexpr int rounds = 3;

class SessionQuery : public ::testing::TestWithParam<Scenario> {};

TEST_P(SessionQuery, Answers) {
    const Scenario& scenario = GetParam();
    expectFreshProcess();
    answer("WTS_DOUBLE_HIDE", scenario.hide);
    answer("WTS_DOUBLE_FAIL", scenario.fail ? "1" : nullptr);
    answer("WTS_DOUBLE_SESSION_ID", scenario.sessionId);
    answer("WTS_DOUBLE_CLIENT_NAME", scenario.clientName);
    answer("WTS_DOUBLE_BYTES", scenario.bytes);
    jnitest::Library library;
    WtsDoubleRecord* record = doubleRecord();
    ASSERT_NE(record, nullptr) << "the stand-in is not the one loaded";
    jnitest::JniHost host;
    auto getSessionId = library.get<std::remove_pointer_t<GetSessionId>>(getSessionIdName);
    auto getClientName = library.get<std::remove_pointer_t<GetClientName>>(getClientNameName);

    // A read past the end of an answer faults, and the crash report ends the program.
    for (int round = 0; round < rounds; ++round) {
        EXPECT_EQ(host.call(getSessionId), scenario.expectedId);
        jstring name = host.call(getClientName);
        if (scenario.expectedName == nullptr) {
            EXPECT_EQ(name, nullptr);
        } else {
            ASSERT_NE(name, nullptr);
            EXPECT_EQ(host.utf8(name), scenario.expectedName);
        }
    }

    std::string hidden = scenario.hide != nullptr ? scenario.hide : "";
    bool queried = hidden != "WTSQuerySessionInformationW";
    EXPECT_EQ(record->queries, queried ? 2 * rounds : 0);
    if (queried) {
        EXPECT_EQ(record->infoClasses[0], 4);
        EXPECT_EQ(record->infoClasses[1], 10);
        EXPECT_EQ(record->lastServer, nullptr);
        EXPECT_EQ(record->lastSession, 0xFFFFFFFFu);
    }
    EXPECT_EQ(record->allocations, queried && !scenario.fail ? 2 * rounds : 0);
    EXPECT_EQ(record->releases, hidden == "WTSFreeMemory" ? 0 : record->allocations);
    EXPECT_EQ(record->strayReleases, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, SessionQuery,
    ::testing::Values(
        Scenario{"function_missing", "WTSQuerySessionInformationW", false, "7", "WORKSTATION-42", 0,
                 nullptr},
        Scenario{"query_fails", nullptr, true, "7", "WORKSTATION-42", 0, nullptr},
        Scenario{"session_0", nullptr, false, "0", "WORKSTATION-42", 0, "WORKSTATION-42"},
        Scenario{"session_7", nullptr, false, "7", "WORKSTATION-42", 7, "WORKSTATION-42"},
        Scenario{"session_high_bit", nullptr, false, "4294967294", "WORKSTATION-42", -2,
                 "WORKSTATION-42"},
        Scenario{"client_name_empty", nullptr, false, "7", nullptr, 7, nullptr},
        Scenario{"client_name_one_character", nullptr, false, "7", "A", 7, "A"},
        Scenario{"client_name_ordinary", nullptr, false, "7", "BUERO-PC", 7, "BUERO-PC"},
        Scenario{"client_name_latin1", nullptr, false, "7", u8"5\u00b0C-100\u20ac-\u00a9", 7,
                 u8"5\u00b0C-100\u20ac-\u00a9"},
        Scenario{"client_name_beyond_the_code_page", nullptr, false, "7",
                 u8"\u041f\u0451\u0442\u0440-\u6771\u4eac-\U0001F600", 7,
                 u8"\u041f\u0451\u0442\u0440-\u6771\u4eac-\U0001F600"},
        Scenario{"release_function_missing", "WTSFreeMemory", false, "7", "WORKSTATION-42", 7,
                 "WORKSTATION-42"},
        Scenario{"answers_of_0_bytes", nullptr, false, "7", "ABC", 0, nullptr, "0"},
        Scenario{"answers_of_3_bytes", nullptr, false, "7", "ABC", 0, nullptr, "3"},
        Scenario{"answers_of_6_bytes", nullptr, false, "7", "ABC", 7, nullptr, "6"},
        Scenario{"answers_of_7_bytes", nullptr, false, "7", "AB", 7, "AB", "7"}),
    [](const ::testing::TestParamInfo<Scenario>& info) { return info.param.name; });

// --- The loader's system calls, intercepted before the library's initialisers run ------------

bool libraryMissing = false;
bool systemDirectoryUnusable = false;
UINT systemDirectoryAnswer = 0;
std::vector<std::string> loadedPaths;
std::vector<std::string> loadEvents;

std::string systemDirectory() {
    char directory[MAX_PATH] = {};
    GetSystemDirectoryA(directory, MAX_PATH);
    return directory;
}

UINT WINAPI fakeGetSystemDirectoryA(char* buffer, UINT size) {
    return systemDirectoryUnusable ? systemDirectoryAnswer : GetSystemDirectoryA(buffer, size);
}

// The loader is answered with the stand-in, which sits beside this program, or with nothing.
HMODULE WINAPI fakeLoadLibraryA(const char* path) {
    loadedPaths.push_back(path);
    loadEvents.push_back("LoadLibraryA");
    return libraryMissing ? nullptr : LoadLibraryA("wts_double.dll");
}

ATOM WINAPI fakeRegisterClassW(const WNDCLASSW* windowClass) {
    loadEvents.push_back("RegisterClassW");
    return RegisterClassW(windowClass);
}

// Windows reports a mapped DLL, its imports bound, before it runs the DLL's initialisers.
void interceptLoader(HMODULE module) {
    jnitest::redirectImport(module, "KERNEL32.dll", "GetSystemDirectoryA",
                            reinterpret_cast<const void*>(&fakeGetSystemDirectoryA));
    jnitest::redirectImport(module, "KERNEL32.dll", "LoadLibraryA",
                            reinterpret_cast<const void*>(&fakeLoadLibraryA));
    jnitest::redirectImport(module, "USER32.dll", "RegisterClassW",
                            reinterpret_cast<const void*>(&fakeRegisterClassW));
}

// Every test here loads the library with its loader intercepted.
class LoaderInterception : public ::testing::Environment {
public:
    void SetUp() override {
        interception_ =
            std::make_unique<jnitest::LoadInterception>(L"ulvexwin64.dll", &interceptLoader);
    }
    void TearDown() override { interception_.reset(); }

private:
    std::unique_ptr<jnitest::LoadInterception> interception_;
};

const auto* const loaderInterception = ::testing::AddGlobalTestEnvironment(new LoaderInterception);

TEST(SessionQueryLoader, WithoutTheLibraryTheQueriesAnswerNeutrally) {
    expectFreshProcess();
    answer("WTS_DOUBLE_SESSION_ID", "7");
    answer("WTS_DOUBLE_CLIENT_NAME", "WORKSTATION-42");
    libraryMissing = true;
    jnitest::Library library;
    ASSERT_NE(library.handle(), nullptr);
    EXPECT_EQ(loadedPaths, std::vector<std::string>{systemDirectory() + "\\wtsapi32.dll"});
    EXPECT_EQ(GetModuleHandleA("wts_double.dll"), nullptr);
    jnitest::JniHost host;
    EXPECT_EQ(host.call(library.get<std::remove_pointer_t<GetSessionId>>(getSessionIdName)), 0);
    EXPECT_EQ(host.call(library.get<std::remove_pointer_t<GetClientName>>(getClientNameName)),
              nullptr);
}

TEST(SessionQueryLoader, LoadsTheLibraryFromTheSystemDirectoryBeforeTheEntryRoutine) {
    expectFreshProcess();
    answer("WTS_DOUBLE_SESSION_ID", "7");
    jnitest::Library library;

    EXPECT_EQ(loadedPaths, std::vector<std::string>{systemDirectory() + "\\wtsapi32.dll"});
    // The loader runs among the static initialisers, before the entry routine's process attach.
    EXPECT_EQ(loadEvents, (std::vector<std::string>{"LoadLibraryA", "RegisterClassW"}));
    ASSERT_NE(doubleRecord(), nullptr);
    jnitest::JniHost host;
    EXPECT_EQ(host.call(library.get<std::remove_pointer_t<GetSessionId>>(getSessionIdName)), 7);
}

struct DirectoryCase {
    const char* name;
    UINT answer;  // 0: GetSystemDirectoryA fails; more than 256: the directory does not fit
};

class UnusableSystemDirectory : public ::testing::TestWithParam<DirectoryCase> {};

TEST_P(UnusableSystemDirectory, LoadsNothingAndTheQueriesAnswerNeutrally) {
    expectFreshProcess();
    answer("WTS_DOUBLE_SESSION_ID", "7");
    answer("WTS_DOUBLE_CLIENT_NAME", "WORKSTATION-42");
    systemDirectoryUnusable = true;
    systemDirectoryAnswer = GetParam().answer;
    jnitest::Library library;
    jnitest::JniHost host;

    EXPECT_TRUE(loadedPaths.empty());
    EXPECT_EQ(GetModuleHandleA("wtsapi32.dll"), nullptr);
    EXPECT_EQ(host.call(library.get<std::remove_pointer_t<GetSessionId>>(getSessionIdName)), 0);
    EXPECT_EQ(host.call(library.get<std::remove_pointer_t<GetClientName>>(getClientNameName)),
              nullptr);
}

INSTANTIATE_TEST_SUITE_P(Answers, UnusableSystemDirectory,
                         ::testing::Values(DirectoryCase{"fails", 0},
                                           DirectoryCase{"does_not_fit", 257},
                                           DirectoryCase{"far_too_long", 300}),
                         [](const ::testing::TestParamInfo<DirectoryCase>& info) {
                             return info.param.name;
                         });

// --- Concurrency --------------------------------------------------------------------------------

std::atomic<int> keysOpened{0};
std::atomic<int> keysClosed{0};

BOOL WINAPI windowsNt4(OSVERSIONINFOA* version) {
    version->dwPlatformId = VER_PLATFORM_WIN32_NT;
    version->dwMajorVersion = 4;
    version->dwMinorVersion = 0;
    return TRUE;
}

LONG WINAPI countingRegOpenKeyA(HKEY parent, const char* name, HKEY* key) {
    LONG status = RegOpenKeyA(parent, name, key);
    if (status == ERROR_SUCCESS) {
        ++keysOpened;
    }
    return status;
}

LONG WINAPI countingRegCloseKey(HKEY key) {
    ++keysClosed;
    return RegCloseKey(key);
}

struct ThreadTally {
    int rounds = 0;
    int wrongAnswers = 0;
    size_t violations = 0;
};

// One Java thread: its own JNI environment, calling until the time is up.
void callAllThree(const jnitest::Library& library, ThreadTally& tally, ULONGLONG until) {
    jnitest::JniHost host;
    auto getSessionId = library.get<std::remove_pointer_t<GetSessionId>>(getSessionIdName);
    auto getClientName = library.get<std::remove_pointer_t<GetClientName>>(getClientNameName);
    auto isTerminalServer =
        library.get<std::remove_pointer_t<IsTerminalServer>>(isTerminalServerName);
    while (GetTickCount64() < until) {
        jboolean terminalServer = host.call(isTerminalServer);
        jint id = host.call(getSessionId);
        jstring name = host.call(getClientName);
        bool right = (terminalServer == JNI_TRUE || terminalServer == JNI_FALSE) && id == 7 &&
                     name != nullptr && host.utf8(name) == "WORKSTATION-42";
        tally.wrongAnswers += right ? 0 : 1;
        ++tally.rounds;
    }
    tally.violations = host.violations().size();
}

// Many threads call the three exports at once for a few seconds (the registry method included,
// through a reported Windows NT 4); every buffer and key is given back.
TEST(SessionConcurrency, ManyThreadsAnswerAlikeAndLeakNothing) {
    constexpr int threadCount = 8;
    constexpr ULONGLONG runMilliseconds = 3000;
    expectFreshProcess();
    answer("WTS_DOUBLE_SESSION_ID", "7");
    answer("WTS_DOUBLE_CLIENT_NAME", "WORKSTATION-42");
    jnitest::Library library;
    WtsDoubleRecord* record = doubleRecord();
    ASSERT_NE(record, nullptr) << "the stand-in is not the one loaded";
    jnitest::ImportHook version(library.handle(), "KERNEL32.dll", "GetVersionExA", &windowsNt4);
    jnitest::ImportHook open(library.handle(), "ADVAPI32.dll", "RegOpenKeyA", &countingRegOpenKeyA);
    jnitest::ImportHook close(library.handle(), "ADVAPI32.dll", "RegCloseKey",
                              &countingRegCloseKey);
    std::vector<ThreadTally> tallies(threadCount);

    ULONGLONG until = GetTickCount64() + runMilliseconds;
    std::vector<std::thread> threads;
    for (ThreadTally& tally : tallies) {
        threads.emplace_back(callAllThree, std::cref(library), std::ref(tally), until);
    }
    for (std::thread& thread : threads) {
        thread.join();
    }

    int totalRounds = 0;
    for (const ThreadTally& tally : tallies) {
        EXPECT_GT(tally.rounds, 0);
        EXPECT_EQ(tally.wrongAnswers, 0);
        EXPECT_EQ(tally.violations, 0u);
        totalRounds += tally.rounds;
    }
    EXPECT_EQ(record->queries, 2 * totalRounds);
    EXPECT_EQ(record->allocations, 2 * totalRounds);
    EXPECT_EQ(record->releases, record->allocations);
    EXPECT_EQ(record->strayReleases, 0);
    EXPECT_GE(keysOpened.load(), 3 * totalRounds);
    EXPECT_EQ(keysClosed.load(), keysOpened.load());
}

}  // namespace

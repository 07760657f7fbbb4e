// Win32File.winCreateShortcut: shortcut files written through the shell's link object.
#include <com_ulvex_kesp_tavik_common_win32_Win32File.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "import_hook.h"
#include "jni_host.h"
#include "library.h"
#include "shell_link.h"
#include "seh.h"

namespace {

using desktoptest::LinkFields;
using desktoptest::RecordingLink;
using jnitest::ImportHook;

constexpr const char* exportName =
    "Java_com_ulvex_kesp_tavik_common_win32_Win32File_winCreateShortcut";
using CreateShortcut = decltype(Java_com_ulvex_kesp_tavik_common_win32_Win32File_winCreateShortcut);
constexpr const char* notepad = "C:\\windows\\notepad.exe";

// What the library asked of COM, recorded by the replacements below, and how they answer.
struct ComSpy {
    int initialisations = 0;
    int successfulInitialisations = 0;
    int uninitialisations = 0;
    int creations = 0;
    bool createArgumentsRight = false;
    bool raiseInCreate = false;
    HRESULT createFailure = S_OK;
    DWORD lastErrorAfterInitialise = 0;  // a code left by an earlier call, when not 0
    DWORD lastErrorAfterCreate = 0;      // set by a creation that succeeds, or by any when not 0
    bool refusePersistFile = false;
    HRESULT setterResult = S_OK;
    DWORD setterLastError = 0;
    HRESULT saveResult = S_OK;
    bool raiseInSave = false;
    std::unique_ptr<RecordingLink> link;
};
ComSpy spy;
jnitest::JniHost* activeHost = nullptr;
decltype(&CoInitialize) realCoInitialize;
decltype(&CoUninitialize) realCoUninitialize;
decltype(&CoCreateInstance) realCoCreateInstance;

HRESULT WINAPI spyCoInitialize(LPVOID reserved) {
    ++spy.initialisations;
    HRESULT result = realCoInitialize(reserved);
    spy.successfulInitialisations += SUCCEEDED(result) ? 1 : 0;
    if (spy.lastErrorAfterInitialise != 0) {
        SetLastError(spy.lastErrorAfterInitialise);
    }
    return result;
}

void WINAPI spyCoUninitialize() {
    ++spy.uninitialisations;
    realCoUninitialize();
}

HRESULT WINAPI spyCoCreateInstance(REFCLSID id, LPUNKNOWN outer, DWORD context, REFIID iid,
                                   LPVOID* out) {
    ++spy.creations;
    spy.createArgumentsRight = id == CLSID_ShellLink && outer == nullptr &&
                               context == CLSCTX_INPROC_SERVER && iid == IID_IShellLinkW;
    if (spy.raiseInCreate) {
        jnitest::raiseTestException();
    }
    HRESULT result = spy.createFailure;
    *out = nullptr;
    if (SUCCEEDED(result)) {
        IShellLinkW* inner = nullptr;
        result = realCoCreateInstance(id, outer, context, iid, reinterpret_cast<void**>(&inner));
        if (SUCCEEDED(result)) {
            spy.link = std::make_unique<RecordingLink>(inner);
            spy.link->refusePersistFile = spy.refusePersistFile;
            spy.link->setterResult = spy.setterResult;
            spy.link->setterLastError = spy.setterLastError;
            spy.link->saveResult = spy.saveResult;
            spy.link->raiseInSave = spy.raiseInSave;
            *out = static_cast<IShellLinkW*>(spy.link.get());
        }
    }
    if (SUCCEEDED(result) || spy.lastErrorAfterCreate != 0) {
        SetLastError(spy.lastErrorAfterCreate);
    }
    return result;
}

// The guarded scopes' TLS read, keeping the last error as a library without its TLS slot does:
// then nothing in the library clears a code that an earlier call left.
decltype(&TlsGetValue) realTlsGetValue;
LPVOID WINAPI errorKeepingTlsGetValue(DWORD slot) {
    DWORD lastError = GetLastError();
    LPVOID value = realTlsGetValue(slot);
    SetLastError(lastError);
    return value;
}

// The calling thread's apartment: 0 STA, 1 MTA, 3 main STA, -1 none.
int apartment() {
    APTTYPE type{};
    APTTYPEQUALIFIER qualifier{};
    return SUCCEEDED(CoGetApartmentType(&type, &qualifier)) ? static_cast<int>(type) : -1;
}

struct Shortcut {
    std::string target = notepad;
    std::string arguments;
    std::string description;
    std::string workingDirectory;
    int showCommand = 0;
};

class ShortcutTest : public ::testing::Test {
protected:
    void SetUp() override {
        spy = ComSpy{};
        activeHost = &host;
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        directory = std::string(temp) + "ulvex-desktop-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::remove_all(directory);
        std::filesystem::create_directories(directory);
    }
    void TearDown() override {
        spy.link.reset();
        std::error_code ignored;
        std::filesystem::remove_all(directory, ignored);
    }

    std::string linkPath(const char* name) const { return directory + "\\" + name; }

    jint write(jnitest::JniHost& on, const Shortcut& link, const std::string& path) {
        return on.call(createShortcut, on.string(link.target), on.string(link.arguments),
                       on.string(path), on.string(link.description),
                       on.string(link.workingDirectory), link.showCommand);
    }
    jint write(const Shortcut& link, const std::string& path) { return write(host, link, path); }

    // Intercepts CoInitialize, CoUninitialize and CoCreateInstance while the hooks live.
    std::vector<std::unique_ptr<ImportHook>> spyOnCom() {
        std::vector<std::unique_ptr<ImportHook>> hooks;
        HMODULE module = library.handle();
        hooks.push_back(
            std::make_unique<ImportHook>(module, "ole32.dll", "CoInitialize", &spyCoInitialize));
        hooks.push_back(std::make_unique<ImportHook>(module, "ole32.dll", "CoUninitialize",
                                                     &spyCoUninitialize));
        hooks.push_back(std::make_unique<ImportHook>(module, "ole32.dll", "CoCreateInstance",
                                                     &spyCoCreateInstance));
        realCoInitialize = hooks[0]->original<std::remove_pointer_t<decltype(realCoInitialize)>>();
        realCoUninitialize =
            hooks[1]->original<std::remove_pointer_t<decltype(realCoUninitialize)>>();
        realCoCreateInstance =
            hooks[2]->original<std::remove_pointer_t<decltype(realCoCreateInstance)>>();
        return hooks;
    }

    // COM was left as the call found it, and every string was copied once.
    void expectBalanced() {
        EXPECT_EQ(spy.initialisations, 1);
        EXPECT_EQ(spy.uninitialisations, spy.successfulInitialisations);
        EXPECT_EQ(host.stringRegions(), 5);
        EXPECT_EQ(host.heldPins(), 0);
    }

    jnitest::Library library;
    jnitest::JniHost host;
    CreateShortcut* createShortcut = library.get<CreateShortcut>(exportName);
    std::string directory;
};

// Read back through the shell's IShellLinkW getters, from the object and from the file. (Wine
// keeps a target path only in the ANSI code page in the file; the setters' table below shows
// that a target beyond ASCII reaches the link object whole.)
TEST_F(ShortcutTest, FieldsReadBackThroughTheShell) {
    const std::string folder = directory + u8"\\J\u00fcrgen-\u041f\u0451\u0442\u0440-\u6771\u4eac";
    ASSERT_TRUE(CreateDirectoryW(desktoptest::widen(folder).c_str(), nullptr));
    struct Case {
        const char* name;
        Shortcut written;
        LinkFields expected;
    };
    const Case cases[] = {
        {"full",
         {notepad, "-x --y", "Ulvex link", "C:\\windows\\system32", 7},
         {notepad, "-x --y", "Ulvex link", "C:\\windows\\system32", 7}},
        {"maximised", {notepad, "a", "b", "C:\\", 3}, {notepad, "a", "b", "C:\\", 3}},
        {"empty fields", {notepad, "", "", "", 0}, {notepad, "", "", "", SW_SHOWNORMAL}},
        {"negative show", {notepad, "", "", "", -3}, {notepad, "", "", "", SW_SHOWNORMAL}},
        {"smallest show", {notepad, "", "d", "", 1}, {notepad, "", "d", "", 1}},
        {u8"J\u00fcrgen-\u041f\u0451\u0442\u0440-\u6771\u4eac\\\U0001F600 link",
         {notepad, u8"5\u00b0C 100 \u20ac",
          u8"\u00a92024 \u041f\u0451\u0442\u0440 \u6771\u4eac \U0001F600", folder, 4},
         {notepad, u8"5\u00b0C 100 \u20ac",
          u8"\u00a92024 \u041f\u0451\u0442\u0440 \u6771\u4eac \U0001F600", folder, 4}},
    };
    auto hooks = spyOnCom();
    for (const Case& c : cases) {
        spy.link.reset();
        std::string path = linkPath(c.name) + ".lnk";
        ASSERT_EQ(write(c.written, path), 0) << c.name;
        ASSERT_TRUE(spy.link) << c.name;
        LinkFields held = spy.link->shellFields();
        LinkFields read;
        ASSERT_TRUE(desktoptest::readLink(path, read)) << c.name;
        for (const LinkFields& fields : {held, read}) {
            EXPECT_EQ(fields.target, c.expected.target)
                << c.name << (fields.showCommand == held.showCommand ? " held" : " read");
            EXPECT_EQ(fields.arguments, c.expected.arguments) << c.name;
            EXPECT_EQ(fields.description, c.expected.description) << c.name;
            EXPECT_EQ(fields.workingDirectory, c.expected.workingDirectory) << c.name;
        }
        EXPECT_EQ(held.showCommand, c.expected.showCommand) << c.name;
        EXPECT_EQ(desktoptest::headerShowCommand(path), c.expected.showCommand) << c.name;
    }
}

TEST_F(ShortcutTest, SettersRunInOrderAndSkipDefaults) {
    struct Case {
        const char* name;
        Shortcut written;
        std::vector<std::string> setters;
    };
    const Case cases[] = {
        {"full",
         {notepad, "-x", "desc", "C:\\", 2},
         {"SetPath(C:\\windows\\notepad.exe)", "SetArguments(-x)", "SetDescription(desc)",
          "SetShowCmd(2)", "SetWorkingDirectory(C:\\)"}},
        {"defaults", {notepad, "", "", "", 0}, {"SetPath(C:\\windows\\notepad.exe)"}},
        {u8"beyond ASCII \u6771\u4eac",
         {u8"C:\\Zo\u00eb \u0141\u00f3d\u017a\\\u6771\u4eac \U0001F600.exe", "", "", "", 0},
         {u8"SetPath(C:\\Zo\u00eb \u0141\u00f3d\u017a\\\u6771\u4eac \U0001F600.exe)"}},
        {"empty target", {"", "", "", "", -1}, {"SetPath()"}},
        {"negative show",
         {notepad, "", "", "C:\\", -2147483647 - 1},
         {"SetPath(C:\\windows\\notepad.exe)", "SetWorkingDirectory(C:\\)"}},
    };
    auto hooks = spyOnCom();
    for (const Case& c : cases) {
        spy.link.reset();
        std::string path = linkPath(c.name) + ".lnk";
        ASSERT_EQ(write(c.written, path), 0) << c.name;
        ASSERT_TRUE(spy.link) << c.name;
        EXPECT_TRUE(spy.createArgumentsRight) << c.name;
        std::vector<std::string> expected = c.setters;
        expected.insert(expected.end(), {"QueryInterface(IPersistFile)", "Save(" + path + ",1)",
                                         "Release(file)", "Release(link)"});
        EXPECT_EQ(spy.link->calls, expected) << c.name;
        EXPECT_EQ(spy.link->references, 0) << c.name;
        EXPECT_TRUE(desktoptest::fileExists(path)) << c.name;
    }
}

TEST_F(ShortcutTest, FailingSettersDoNotStopTheSave) {
    auto hooks = spyOnCom();
    spy.setterResult = E_FAIL;
    std::string path = linkPath("setters.lnk");
    EXPECT_EQ(write({notepad, "-a", "d", "C:\\", 5}, path), 0);
    ASSERT_TRUE(spy.link);
    EXPECT_EQ(spy.link->calls.size(), 9u);
    EXPECT_EQ(spy.link->calls[6], "Save(" + path + ",1)");
    EXPECT_TRUE(desktoptest::fileExists(path));
}

// The path is converted whole into a buffer of its own size; the shell decides whether it can
// save it.
TEST_F(ShortcutTest, LongLinkPathsAreConvertedWhole) {
    auto hooks = spyOnCom();
    for (std::size_t length : {std::size_t{259}, std::size_t{400}}) {
        spy.link.reset();
        std::string path = directory + "\\";
        if (length - path.size() > 200) {
            path += std::string(150, 'd');
            std::filesystem::create_directories(path);
            path += "\\";
        }
        path += std::string(length - path.size() - 4, 'n') + ".lnk";
        ASSERT_EQ(path.size(), length);
        jint result = write({notepad, "", "", "", 0}, path);
        ASSERT_TRUE(spy.link) << length;
        ASSERT_GE(spy.link->calls.size(), 3u) << length;
        EXPECT_EQ(spy.link->calls[2], "Save(" + path + ",1)") << length;
        EXPECT_EQ(result == 0, desktoptest::fileExists(path)) << length << " gave " << result;
        if (length < MAX_PATH) {
            // Fits MAX_PATH with its terminator: the shell must save and read it.
            ASSERT_EQ(result, 0);
            LinkFields read;
            ASSERT_TRUE(desktoptest::readLink(path, read));
            EXPECT_EQ(read.target, notepad);
        }
    }
}

TEST_F(ShortcutTest, LinkObjectUnavailable) {
    struct Case {
        HRESULT failure;
        DWORD lastError;
        jint expected;
    };
    const Case cases[] = {{REGDB_E_CLASSNOTREG, 1234, 1234},
                          {HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), 0, ERROR_MOD_NOT_FOUND},
                          {REGDB_E_CLASSNOTREG, 0, ERROR_GEN_FAILURE},
                          {static_cast<HRESULT>(0x80070000), 0, ERROR_GEN_FAILURE}};
    auto hooks = spyOnCom();
    for (const Case& c : cases) {
        jnitest::JniHost local;
        activeHost = &local;
        spy = ComSpy{};
        spy.createFailure = c.failure;
        spy.lastErrorAfterCreate = c.lastError;
        std::string path = linkPath("unavailable.lnk");
        EXPECT_EQ(write(local, {notepad, "a", "d", "C:\\", 1}, path), c.expected) << c.failure;
        EXPECT_EQ(spy.creations, 1);
        EXPECT_FALSE(spy.link);
        EXPECT_FALSE(desktoptest::fileExists(path));
        EXPECT_EQ(spy.uninitialisations, spy.successfulInitialisations);
    }
}

TEST_F(ShortcutTest, PersistFileUnavailable) {
    struct Case {
        DWORD lastError;
        jint expected;
    };
    const Case cases[] = {{55, 55}, {0, ERROR_GEN_FAILURE}};
    auto hooks = spyOnCom();
    for (const Case& c : cases) {
        spy.link.reset();
        spy.refusePersistFile = true;
        spy.lastErrorAfterCreate = c.lastError;
        std::string path = linkPath("nopersist.lnk");
        EXPECT_EQ(write({notepad, "", "", "", 0}, path), c.expected);
        ASSERT_TRUE(spy.link);
        std::vector<std::string> expected = {"SetPath(C:\\windows\\notepad.exe)",
                                             "QueryInterface(IPersistFile)", "Release(link)"};
        EXPECT_EQ(spy.link->calls, expected);
        EXPECT_EQ(spy.link->references, 0);
        EXPECT_FALSE(desktoptest::fileExists(path));
    }
}

TEST_F(ShortcutTest, FailedSaveGivesTheSystemCode) {
    auto hooks = spyOnCom();
    std::string path = directory + "\\missing\\link.lnk";
    EXPECT_EQ(write({notepad, "", "", "", 0}, path), ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(desktoptest::fileExists(path));
    ASSERT_TRUE(spy.link);
    EXPECT_EQ(spy.link->calls.back(), "Release(link)");
    EXPECT_EQ(spy.link->references, 0);
    expectBalanced();
}

// A code that an earlier call left is not taken for the failure's own.
TEST_F(ShortcutTest, StaleLastErrorIsNotReported) {
    struct Case {
        DWORD leftBeforeCreate;
        HRESULT createFailure;
        DWORD leftBySetters;
        HRESULT saveResult;
    };
    const Case cases[] = {{1234, REGDB_E_CLASSNOTREG, 0, S_OK}, {0, S_OK, 1234, E_FAIL}};
    auto hooks = spyOnCom();
    ImportHook tls(library.handle(), "kernel32.dll", "TlsGetValue", &errorKeepingTlsGetValue);
    realTlsGetValue = tls.original<std::remove_pointer_t<decltype(realTlsGetValue)>>();
    for (const Case& c : cases) {
        spy = ComSpy{};
        spy.lastErrorAfterInitialise = c.leftBeforeCreate;
        spy.createFailure = c.createFailure;
        spy.setterLastError = c.leftBySetters;
        spy.saveResult = c.saveResult;
        EXPECT_EQ(write({notepad, "", "", "", 0}, linkPath("stale.lnk")), ERROR_GEN_FAILURE);
    }
}

TEST_F(ShortcutTest, SuccessIsZeroWhateverTheLastError) {
    auto hooks = spyOnCom();
    spy.lastErrorAfterCreate = 1234;
    std::string path = linkPath("stale.lnk");
    EXPECT_EQ(write({notepad, "", "", "", 0}, path), 0);
    EXPECT_TRUE(desktoptest::fileExists(path));
}

// A null string, or one holding U+0000 (the link path "missing.lnk\0x" would save
// "missing.lnk"): 87 before any COM call.
TEST_F(ShortcutTest, MissingStringGivesInvalidParameter) {
    auto hooks = spyOnCom();
    for (int missing = 0; missing < 5; ++missing) {
        for (bool withNul : {false, true}) {
            jnitest::JniHost local;
            spy = ComSpy{};
            jstring strings[5];
            for (int i = 0; i < 5; ++i) {
                std::string text = i == 2 ? linkPath("missing.lnk") : std::string("x");
                strings[i] = local.string(i == missing ? text + std::string(1, '\0') + "x" : text);
            }
            if (!withNul) {
                strings[missing] = nullptr;
            }
            EXPECT_EQ(local.call(createShortcut, strings[0], strings[1], strings[2], strings[3],
                                 strings[4], 1),
                      ERROR_INVALID_PARAMETER);
            EXPECT_EQ(spy.initialisations + spy.creations + spy.uninitialisations, 0) << missing;
            EXPECT_EQ(local.stringRegions(), withNul ? 5 : 4) << missing;
            EXPECT_FALSE(local.exceptionPending()) << missing;
            EXPECT_FALSE(desktoptest::fileExists(linkPath("missing.lnk")));
        }
    }
}

// Only a CoInitialize that succeeded is undone: a thread in a multithreaded apartment keeps it.
TEST_F(ShortcutTest, ComInitialisationIsBalanced) {
    struct Case {
        const char* name;
        DWORD model;  // -1: the thread has no apartment
        int uninitialisations;
    };
    const Case cases[] = {{"no apartment", ~DWORD{0}, 1},
                          {"single-threaded", COINIT_APARTMENTTHREADED, 1},
                          {"multithreaded", COINIT_MULTITHREADED, 0}};
    auto hooks = spyOnCom();
    for (const Case& c : cases) {
        spy = ComSpy{};
        jnitest::JniHost local;
        activeHost = &local;
        bool entered = c.model != ~DWORD{0} && SUCCEEDED(CoInitializeEx(nullptr, c.model));
        int before = apartment();
        std::string path = linkPath(c.name) + ".lnk";
        jint result = write(local, {notepad, "", "", "", 0}, path);
        EXPECT_EQ(apartment(), before) << c.name;
        EXPECT_EQ(spy.initialisations, 1) << c.name;
        EXPECT_EQ(spy.uninitialisations, c.uninitialisations) << c.name;
        EXPECT_EQ(local.stringRegions(), 5) << c.name;
        EXPECT_EQ(result == 0, desktoptest::fileExists(path)) << c.name << " gave " << result;
        spy.link.reset();
        if (entered) {
            CoUninitialize();
        }
    }
}

// A structured exception raised from a call the library makes (Windows, or the link object)
// still releases every COM reference and the call's COM initialisation.
TEST_F(ShortcutTest, StructuredExceptionStillReleases) {
    struct Case {
        const char* name;
        bool inCreate;
    };
    const Case cases[] = {{"CoCreateInstance", true}, {"IPersistFile::Save", false}};
    auto hooks = spyOnCom();
    for (const Case& c : cases) {
        spy = ComSpy{};
        spy.raiseInCreate = c.inCreate;
        spy.raiseInSave = !c.inCreate;
        jnitest::JniHost local;
        activeHost = &local;
        std::string path = linkPath("raised.lnk");
        bool caught = jnitest::catchesStructuredException([&] {
            write(local, {notepad, "-a", "d", "C:\\", 1}, path);
        });
        EXPECT_TRUE(caught) << c.name;
        EXPECT_EQ(local.heldPins(), 0) << c.name;
        EXPECT_EQ(spy.initialisations, 1) << c.name;
        EXPECT_EQ(spy.uninitialisations, spy.successfulInitialisations) << c.name;
        EXPECT_EQ(spy.link != nullptr, !c.inCreate) << c.name;
        if (spy.link) {
            EXPECT_EQ(spy.link->references, 0) << c.name;
        }
        EXPECT_FALSE(desktoptest::fileExists(path)) << c.name;
    }
    activeHost = &host;
    spy = ComSpy{};
    EXPECT_EQ(write({notepad, "", "", "", 0}, linkPath("after.lnk")), 0);
    expectBalanced();
}

TEST_F(ShortcutTest, ShortcutsFromSeveralThreadsAtOnce) {
    constexpr int threadCount = 4;
    constexpr int linksPerThread = 3;
    jint results[threadCount][linksPerThread] = {};
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([&, t] {
            jnitest::JniHost own;
            for (int i = 0; i < linksPerThread; ++i) {
                std::string name = "t" + std::to_string(t) + "-" + std::to_string(i);
                results[t][i] = write(own, {notepad, name, "thread link", "C:\\", 2},
                                      linkPath(name.c_str()) + ".lnk");
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (int t = 0; t < threadCount; ++t) {
        for (int i = 0; i < linksPerThread; ++i) {
            std::string name = "t" + std::to_string(t) + "-" + std::to_string(i);
            EXPECT_EQ(results[t][i], 0) << name;
            LinkFields read;
            ASSERT_TRUE(desktoptest::readLink(linkPath(name.c_str()) + ".lnk", read)) << name;
            EXPECT_EQ(read.arguments, name);
            EXPECT_EQ(desktoptest::headerShowCommand(linkPath(name.c_str()) + ".lnk"), 2);
        }
    }
}

}  // namespace

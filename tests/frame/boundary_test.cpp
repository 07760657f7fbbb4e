// The Java boundary, compiled from the library's own sources: handle and value rules, raising
// RegistryException, system error texts, and releases on a structured-exception unwind.
#include <gtest/gtest.h>

#include <string>

#include "import_hook.h"
#include "jni/boundary.h"
#include "jni/guarded.h"
#include "jni_host.h"
#include "seh.h"

namespace {

const char registryException[] = "com/ulvex/kesp/tavik/common/win32/RegistryException";

TEST(HandleRuleTest, IntsWidenBySignExtensionAndNarrowToTheLowHalf) {
    struct Case {
        jint java;
        UINT_PTR windows;
    };
    const Case cases[] = {
        {0, 0},
        {0x1234, 0x1234},
        {0x7FFFFFFF, 0x7FFFFFFF},
        {-1, ~UINT_PTR{0}},
        {-2147483647, 0xFFFFFFFF80000001},
        {-2147483646, 0xFFFFFFFF80000002},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(reinterpret_cast<UINT_PTR>(ulvex::handleFromJava(c.java)), c.windows) << c.java;
        EXPECT_EQ(reinterpret_cast<UINT_PTR>(ulvex::windowFromJava(c.java)), c.windows) << c.java;
        EXPECT_EQ(reinterpret_cast<UINT_PTR>(ulvex::keyFromJava(c.java)), c.windows) << c.java;
        EXPECT_EQ(ulvex::handleToJava(ulvex::handleFromJava(c.java)), c.java);
        EXPECT_EQ(ulvex::windowToJava(ulvex::windowFromJava(c.java)), c.java);
    }
    EXPECT_EQ(ulvex::handleToJava(INVALID_HANDLE_VALUE), -1);
    EXPECT_EQ(ulvex::handleFromJava(-1), INVALID_HANDLE_VALUE);
    EXPECT_EQ(ulvex::keyFromJava(-2147483646), HKEY_LOCAL_MACHINE);
}

TEST(HandleRuleTest, IntsAndBooleansKeepTheirBits) {
    EXPECT_EQ(ulvex::dwordFromJava(-1), 0xFFFFFFFFu);
    EXPECT_EQ(ulvex::dwordFromJava(-2147483647 - 1), 0x80000000u);
    EXPECT_EQ(ulvex::dwordToJava(0xFFFFFFFEu), -2);
    EXPECT_EQ(ulvex::windowsBoolToJava(0x101), 1);
    EXPECT_EQ(ulvex::windowsBoolToJava(0x100), 0);
    EXPECT_EQ(ulvex::booleanToJava(true), JNI_TRUE);
    EXPECT_TRUE(ulvex::booleanFromJava(0x80));
    EXPECT_FALSE(ulvex::booleanFromJava(0));
}

TEST(RegistryExceptionTest, RaisesWithTheMessageAndReturns) {
    jnitest::JniHost host;
    ulvex::throwRegistryException(host.env(), "Error opening registry key");
    EXPECT_EQ(host.exceptionClass(), registryException);
    EXPECT_EQ(host.exceptionMessage(), "Error opening registry key");
    EXPECT_EQ(host.exceptionsRaised(), 1);
}

TEST(RegistryExceptionTest, MissingClassLeavesItsErrorPendingWithoutThrowNew) {
    jnitest::JniHost host;
    host.failFindClass(registryException);
    ulvex::throwRegistryException(host.env(), "Could not delete registry key");
    EXPECT_EQ(host.exceptionClass(), "java/lang/NoClassDefFoundError");
    for (const std::string& call : host.calls()) {
        EXPECT_NE(call, "ThrowNew");
    }
}

std::string formatDirectly(DWORD code, DWORD flags = 0x1100) {
    char* text = nullptr;
    DWORD length =
        FormatMessageA(flags, nullptr, code, 0x400, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result(text != nullptr ? text : "", length);
    LocalFree(text);
    return result;
}

// The library code is linked into this program, so the hook redirects the program's own
// import: the real function is reached by address.
int localFrees = 0;
HLOCAL WINAPI countingLocalFree(HLOCAL memory) {
    static auto real = reinterpret_cast<decltype(&LocalFree)>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "LocalFree")));
    ++localFrees;
    return real(memory);
}

TEST(SystemErrorTextTest, CarriesTheSystemTextUnchanged) {
    std::string expected = formatDirectly(ERROR_ACCESS_DENIED);
    ASSERT_GE(expected.size(), 2u);
    EXPECT_EQ(expected.substr(expected.size() - 2), "\r\n");
    {
        ulvex::LocalText text = ulvex::systemErrorText(ERROR_ACCESS_DENIED);
        ASSERT_NE(text.get(), nullptr);
        EXPECT_EQ(text.get(), expected);
    }
    jnitest::JniHost host;
    localFrees = 0;
    {
        jnitest::ImportHook hook(GetModuleHandleA(nullptr), "KERNEL32.dll", "LocalFree",
                                 countingLocalFree);
        ulvex::throwRegistryExceptionForCode(host.env(), ERROR_ACCESS_DENIED);
    }
    EXPECT_EQ(host.exceptionMessage(), expected);
    EXPECT_EQ(localFrees, 1);
}

TEST(SystemErrorTextTest, TextWithInsertsComesBackAsItStands) {
    const DWORD ignoreInserts = 0x1100 | FORMAT_MESSAGE_IGNORE_INSERTS;
    DWORD code = 1;
    while (code < 16000 && formatDirectly(code, ignoreInserts).find("%1") == std::string::npos) {
        ++code;
    }
    ASSERT_LT(code, 16000u) << "no system text with inserts";
    ulvex::LocalText text = ulvex::systemErrorText(code);
    ASSERT_NE(text.get(), nullptr) << code;
    EXPECT_EQ(text.get(), formatDirectly(code, ignoreInserts));
}

TEST(SystemErrorTextTest, CodeWithoutTextRaisesTheFallback) {
    const DWORD code = 0x2000ABCD;
    ASSERT_EQ(formatDirectly(code), "");
    EXPECT_EQ(ulvex::systemErrorText(code).get(), nullptr);
    jnitest::JniHost host;
    ulvex::throwRegistryExceptionForCode(host.env(), code);
    EXPECT_EQ(host.exceptionClass(), registryException);
    EXPECT_EQ(host.exceptionMessage(), "Windows error 536914893");
}

TEST(GuardedStringsTest, ConvertsInOrderAndStopsAtTheFirstFailure) {
    struct Case {
        int failingConversion;  // 0: none
        bool nullSecond;
        size_t converted;
    };
    const Case cases[] = {{0, false, 3}, {1, false, 0}, {2, false, 1}, {3, false, 2}, {0, true, 1}};
    for (const Case& c : cases) {
        jnitest::JniHost host;
        jstring first = host.string("first");
        jstring second = c.nullSecond ? nullptr : host.string("second");
        jstring third = host.string("third");
        if (c.failingConversion != 0) {
            host.failConversion(c.failingConversion);
        }
        {
            ulvex::GuardedStrings strings(host.env(), {first, second, third});
            EXPECT_EQ(strings.complete(), c.converted == 3);
            for (size_t i = 0; i < 3; ++i) {
                EXPECT_EQ(strings[i] != nullptr, i < c.converted) << i;
            }
        }
        EXPECT_EQ(host.conversions(), static_cast<int>(c.converted));
        EXPECT_EQ(host.stringReleases(), static_cast<int>(c.converted));
        EXPECT_EQ(host.heldPins(), 0);
        host.clearException();
    }
}

TEST(GuardedStringsTest, MoreThanFiveStringsAreNotConverted) {
    jnitest::JniHost host;
    jstring s = host.string("s");
    {
        ulvex::GuardedStrings strings(host.env(), {s, s, s, s, s, s});
        EXPECT_FALSE(strings.complete());
        EXPECT_EQ(strings[0], nullptr);
    }
    EXPECT_EQ(host.conversions(), 0);
}

TEST(GuardedStringsTest, StructuredExceptionReleasesEveryConvertedString) {
    ulvex::allocateGuardSlot();
    jnitest::JniHost host;
    jstring outer = host.string("outer");
    jstring first = host.string("first");
    jstring second = host.string("second");
    bool caught = jnitest::catchesStructuredException([&] {
        ulvex::runGuarded([&] {
            ulvex::GuardedStrings outerStrings(host.env(), {outer});
            ulvex::runGuarded([&] {
                ulvex::GuardedStrings strings(host.env(), {first, second});
                ASSERT_EQ(host.heldPins(), 3);
                jnitest::raiseTestException();
            });
        });
    });
    EXPECT_TRUE(caught);
    EXPECT_EQ(host.heldPins(), 0);
    EXPECT_EQ(host.stringReleases(), 3);

    // The guards are balanced afterwards: a later ordinary scope releases once.
    ulvex::runGuarded([&] { ulvex::GuardedStrings again(host.env(), {first}); });
    EXPECT_EQ(host.stringReleases(), 4);
    EXPECT_EQ(host.heldPins(), 0);

    // Without the slot, ordinary exits still release.
    ulvex::freeGuardSlot();
    ulvex::runGuarded([&] { ulvex::GuardedStrings again(host.env(), {first, second}); });
    EXPECT_EQ(host.stringReleases(), 6);
    EXPECT_EQ(host.heldPins(), 0);
}

}  // namespace

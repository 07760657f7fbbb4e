// The Java boundary, compiled from the library's own sources: handle and value rules, raising
// RegistryException, system error texts, strings copied as UTF-16, and releases on a
// structured-exception unwind.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
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

// The system text as Windows formats it, in the modified UTF-8 that ThrowNew takes: for the
// texts below, ASCII.
std::string formatDirectly(DWORD code, DWORD flags = 0x1100) {
    wchar_t* text = nullptr;
    DWORD length =
        FormatMessageW(flags, nullptr, code, 0x400, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string result;
    for (DWORD i = 0; text != nullptr && i < length; ++i) {
        result += static_cast<char>(text[i]);
    }
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
        EXPECT_EQ(std::string(text.get(), text.get() + text.length()), expected);
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

// A system text beyond ASCII, as a translated Windows has them: U+0000 and an unpaired surrogate
// included, which no system text holds but which the encoding must carry all the same.
const wchar_t translatedText[] =
    L"5\u00B0C 100 \u20AC \u041F\u0451\u0442\u0440 \u6771\u4EAC \U0001F600 \0 \xDC00.";

DWORD WINAPI translatedFormatMessage(DWORD, LPCVOID, DWORD, DWORD, LPWSTR buffer, DWORD, va_list*) {
    auto* text = static_cast<wchar_t*>(LocalAlloc(LMEM_FIXED, sizeof translatedText));
    std::memcpy(text, translatedText, sizeof translatedText);
    *reinterpret_cast<wchar_t**>(buffer) = text;
    return static_cast<DWORD>(std::size(translatedText) - 1);
}

TEST(SystemErrorTextTest, TextBeyondAsciiIsRaisedAsModifiedUtf8) {
    jnitest::JniHost host;
    {
        jnitest::ImportHook hook(GetModuleHandleA(nullptr), "KERNEL32.dll", "FormatMessageW",
                                 translatedFormatMessage);
        ulvex::throwRegistryExceptionForCode(host.env(), ERROR_ACCESS_DENIED);
    }
    EXPECT_EQ(host.exceptionMessage(),
              "5\xC2\xB0"
              "C 100 \xE2\x82\xAC \xD0\x9F\xD1\x91\xD1\x82\xD1\x80 \xE6\x9D\xB1\xE4\xBA\xAC "
              "\xED\xA0\xBD\xED\xB8\x80 \xC0\x80 \xED\xB0\x80.");
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
    EXPECT_EQ(std::string(text.get(), text.get() + text.length()),
              formatDirectly(code, ignoreInserts));
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

LPVOID WINAPI refusedHeapAlloc(HANDLE, DWORD, SIZE_T) {
    return nullptr;
}

TEST(WideStringTest, CopiesTheUnitsOnceAndTellsNullFailureAndNulApart) {
    const std::u16string longText(ulvex::WideString::stackUnits + 1, u'\u6771');
    struct Case {
        std::u16string text;
        bool null, refuseHeap, converted, nul;
    };
    const Case cases[] = {
        {u"", true, false, false, false},
        {u"", false, false, true, false},
        {u"5\u00B0C \u041F \U0001F600 \xD800x", false, false, true, false},
        {std::u16string(u"a\0b", 3), false, false, true, true},
        {longText.substr(1), false, true, true, false},
        {longText, false, false, true, false},
        {longText, false, true, false, false},
    };
    for (const Case& c : cases) {
        jnitest::JniHost host;
        jstring string = c.null ? nullptr : host.string(c.text);
        jnitest::ImportHook hook(GetModuleHandleA(nullptr), "KERNEL32.dll", "HeapAlloc",
                                 c.refuseHeap ? refusedHeapAlloc : &HeapAlloc);
        ulvex::WideString wide(host.env(), string);
        EXPECT_EQ(wide.isNull(), c.null);
        EXPECT_EQ(wide.get() != nullptr, c.converted);
        EXPECT_EQ(wide.holdsNul(), c.nul);
        EXPECT_EQ(wide.whole(), c.converted && !c.nul);
        if (wide.get() != nullptr) {
            EXPECT_EQ(
                std::u16string(reinterpret_cast<const char16_t*>(wide.get()), c.text.size() + 1),
                c.text + u'\0');
        }
        EXPECT_EQ(host.stringRegions(), c.converted ? 1 : 0);
    }
}

int heapFrees = 0;
BOOL WINAPI countingHeapFree(HANDLE heap, DWORD flags, LPVOID block) {
    static auto real = reinterpret_cast<decltype(&HeapFree)>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "HeapFree")));
    ++heapFrees;
    return real(heap, flags, block);
}

TEST(WideStringTest, StructuredExceptionFreesEveryHeapBlock) {
    ulvex::allocateGuardSlot();
    jnitest::JniHost host;
    jstring text = host.string(std::u16string(ulvex::WideString::stackUnits + 1, u'x'));
    jnitest::ImportHook hook(GetModuleHandleA(nullptr), "KERNEL32.dll", "HeapFree",
                             countingHeapFree);
    bool caught = jnitest::catchesStructuredException([&] {
        ulvex::runGuarded([&] {
            ulvex::WideString outer(host.env(), text);
            ulvex::runGuarded([&] {
                ulvex::WideString first(host.env(), text);
                ulvex::WideString second(host.env(), text);
                ASSERT_NE(second.get(), nullptr);
                jnitest::raiseTestException();
            });
        });
    });
    EXPECT_TRUE(caught);
    EXPECT_EQ(heapFrees, 3);

    // The guards are balanced afterwards: a later ordinary scope frees once.
    ulvex::runGuarded([&] { ulvex::WideString again(host.env(), text); });
    EXPECT_EQ(heapFrees, 4);

    // Without the slot, ordinary exits still free.
    ulvex::freeGuardSlot();
    ulvex::runGuarded([&] { ulvex::WideString again(host.env(), text); });
    EXPECT_EQ(heapFrees, 5);
}

}  // namespace

// Environment.getEnvironmentVariable against the real process environment under Wine.
#include <gtest/gtest.h>

#include <com_ulvex_kesp_tavik_common_win32_Environment.h>

#include <string>
#include <vector>

#include "import_hook.h"
#include "jni_host.h"
#include "library.h"

namespace {

const char exportName[] =
    "Java_com_ulvex_kesp_tavik_common_win32_Environment_getEnvironmentVariable";

class EnvironmentTest : public ::testing::Test {
protected:
    jnitest::Library library;
    jnitest::JniHost host;
    decltype(&Java_com_ulvex_kesp_tavik_common_win32_Environment_getEnvironmentVariable) lookup =
        library.fn(Java_com_ulvex_kesp_tavik_common_win32_Environment_getEnvironmentVariable,
                   exportName);

    // The value as Java sees it, or "<null>".
    std::u16string valueOf(jstring name) {
        jstring value = host.call(lookup, name);
        return value == nullptr ? u"<null>" : host.utf16(value);
    }
};

const wchar_t* wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

// Each value is set by the test's own SetEnvironmentVariableW and must come back unit for unit.
TEST_F(EnvironmentTest, ValuesOfEveryLengthAndScript) {
    struct Case {
        std::u16string name;
        std::u16string value;  // "<unset>": not defined
        std::u16string expected;
    };
    const std::u16string long4095(4095, u'a');
    const std::u16string long4096(4096, u'b');
    const std::u16string long5000 = std::u16string(4999, u'\u6771') + u"\U0001F600";
    const std::u16string mixed = u"J\u00fcrgen \u041f\u0451\u0442\u0440 \u6771\u4eac \U0001F600";
    const Case cases[] = {
        {u"ULVEX_PLAIN", u"C:\\windows\\system32", u"C:\\windows\\system32"},
        {u"ULVEX_UNDEFINED", u"<unset>", u"<null>"},
        {u"ULVEX_EMPTY", u"", u"<null>"},
        {u"ULVEX_4095", long4095, long4095},
        {u"ULVEX_4096", long4096, long4096},
        {u"ULVEX_5000", long5000, long5000},
        {u"ULVEX_LATIN1", u"5\u00b0C, 100 \u20ac, \u00a92024 Acme",
         u"5\u00b0C, 100 \u20ac, \u00a92024 Acme"},
        {u"ULVEX_MIXED", mixed, mixed},
        {u"ULVEX_J\u00fcrgen_\u6771\u4eac_\U0001F600", u"named", u"named"},
        {u"ULVEX_LONE", u"\xD800\u00e9\xDC00", u"\xD800\u00e9\xDC00"},
    };
    for (const Case& c : cases) {
        SetEnvironmentVariableW(wide(c.name), c.value == u"<unset>" ? nullptr : wide(c.value));
        EXPECT_EQ(valueOf(host.string(c.name)), c.expected) << host.utf8(host.string(c.name));
        EXPECT_FALSE(host.exceptionPending());
        SetEnvironmentVariableW(wide(c.name), nullptr);
    }
    EXPECT_EQ(host.stringRegions(), static_cast<int>(std::size(cases)));
}

int lookups = 0;
DWORD WINAPI countingGetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size) {
    ++lookups;
    return GetEnvironmentVariableW(name, buffer, size);
}

// A name holding U+0000 would read another variable ("PATH"): refused.
TEST_F(EnvironmentTest, NullNameOrNameWithNulGivesNullWithoutLookup) {
    jnitest::ImportHook hook(library.handle(), "KERNEL32.dll", "GetEnvironmentVariableW",
                             countingGetEnvironmentVariableW);
    lookups = 0;
    EXPECT_EQ(host.call(lookup, nullptr), nullptr);
    EXPECT_EQ(host.call(lookup, host.string(std::u16string(u"PATH\0X", 6))), nullptr);
    EXPECT_EQ(host.stringRegions(), 1);
    EXPECT_FALSE(host.exceptionPending());
    EXPECT_EQ(lookups, 0);
}

TEST_F(EnvironmentTest, FailedStringCreationGivesNullAfterRelease) {
    SetEnvironmentVariableA("ULVEX_SHORT", "x");
    SetEnvironmentVariableA("ULVEX_LONG", std::string(6000, 'y').c_str());
    for (const char* name : {"ULVEX_SHORT", "ULVEX_LONG"}) {
        jnitest::JniHost failing;
        failing.failNewString();
        EXPECT_EQ(failing.call(lookup, failing.string(name)), nullptr) << name;
        EXPECT_EQ(failing.exceptionClass(), "java/lang/OutOfMemoryError") << name;
    }
    SetEnvironmentVariableA("ULVEX_SHORT", nullptr);
    SetEnvironmentVariableA("ULVEX_LONG", nullptr);
}

std::vector<DWORD> offeredSizes;
DWORD WINAPI sizeRecordingGetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size) {
    offeredSizes.push_back(size);
    if (std::wstring(name) == L"ULVEX_GROWING") {
        SetEnvironmentVariableW(name, std::wstring(size + 1, L'v').c_str());
    }
    DWORD count = GetEnvironmentVariableW(name, buffer, size);
    if (offeredSizes.size() == 1 && std::wstring(name) == L"ULVEX_VANISHING") {
        SetEnvironmentVariableW(name, nullptr);
    }
    return count;
}

// A 4096-unit buffer first; a longer value is fetched once more into a buffer of its size, and
// again while it grows, three times at most.
TEST_F(EnvironmentTest, StackBufferFirstThenOneFetchOfTheReportedSize) {
    struct Case {
        const char* name;
        std::size_t length;
        std::vector<DWORD> sizes;
        bool found;
    };
    const Case cases[] = {
        {"ULVEX_FITS", 4095, {4096}, true},
        {"ULVEX_LONGER", 4096, {4096, 4097}, true},
        {"ULVEX_VANISHING", 6000, {4096, 6001}, false},
        {"ULVEX_GROWING", 4096, {4096, 4098, 4100, 4102}, false},
    };
    jnitest::ImportHook hook(library.handle(), "KERNEL32.dll", "GetEnvironmentVariableW",
                             sizeRecordingGetEnvironmentVariableW);
    for (const Case& c : cases) {
        offeredSizes.clear();
        SetEnvironmentVariableA(c.name, std::string(c.length, 'v').c_str());
        EXPECT_EQ(valueOf(host.string(c.name)),
                  c.found ? std::u16string(c.length, u'v') : u"<null>")
            << c.name;
        EXPECT_EQ(offeredSizes, c.sizes) << c.name;
        SetEnvironmentVariableA(c.name, nullptr);
    }
}

// The value grows between the size query and the fetch: fetched again, whole.
DWORD WINAPI growingGetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size) {
    if (++lookups == 2) {
        SetEnvironmentVariableW(name, std::wstring(9000, L'g').c_str());
    }
    return GetEnvironmentVariableW(name, buffer, size);
}

TEST_F(EnvironmentTest, ValueThatGrowsMeanwhileIsFetchedAgain) {
    SetEnvironmentVariableA("ULVEX_GROWING", std::string(5000, 's').c_str());
    jnitest::ImportHook hook(library.handle(), "KERNEL32.dll", "GetEnvironmentVariableW",
                             growingGetEnvironmentVariableW);
    lookups = 0;
    EXPECT_EQ(valueOf(host.string("ULVEX_GROWING")), std::u16string(9000, u'g'));
    EXPECT_EQ(lookups, 3);
    SetEnvironmentVariableA("ULVEX_GROWING", nullptr);
}

}  // namespace

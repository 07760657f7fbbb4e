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
    std::string valueOf(jstring name) {
        jstring value = host.call(lookup, name);
        return value == nullptr ? "<null>" : host.newStringUtfBytes(value);
    }
};

TEST_F(EnvironmentTest, ValuesOfEveryLength) {
    struct Case {
        const char* name;
        std::string value;  // "<unset>": not defined
        std::string expected;
    };
    const std::string long4095(4095, 'a');
    const std::string long4096(4096, 'b');
    const std::string long5000 = std::string(4999, 'c') + 'z';
    const Case cases[] = {
        {"ULVEX_PLAIN", "C:\\windows\\system32", "C:\\windows\\system32"},
        {"ULVEX_UNDEFINED", "<unset>", "<null>"},
        {"ULVEX_EMPTY", "", "<null>"},
        {"ULVEX_4095", long4095, long4095},
        {"ULVEX_4096", long4096, long4096},
        {"ULVEX_5000", long5000, long5000},
        {"ULVEX_ANSI", "C:\\caf\xE9", "C:\\caf\xE9"},
    };
    for (const Case& c : cases) {
        SetEnvironmentVariableA(c.name, c.value == "<unset>" ? nullptr : c.value.c_str());
        EXPECT_EQ(valueOf(host.string(c.name)), c.expected) << c.name;
        EXPECT_FALSE(host.exceptionPending()) << c.name;
        SetEnvironmentVariableA(c.name, nullptr);
    }
    EXPECT_EQ(host.conversions(), static_cast<int>(std::size(cases)));
    EXPECT_EQ(host.stringReleases(), host.conversions());
}

std::string seenName;
DWORD WINAPI recordingGetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
    seenName = name;
    return GetEnvironmentVariableA(name, buffer, size);
}

TEST_F(EnvironmentTest, NameReachesWindowsAsModifiedUtf8Bytes) {
    SetEnvironmentVariableA("ULVEX_\xC3\xA9", "accented");
    jnitest::ImportHook hook(library.handle(), "KERNEL32.dll", "GetEnvironmentVariableA",
                             recordingGetEnvironmentVariableA);
    EXPECT_EQ(valueOf(host.string(u"ULVEX_\u00e9")), "accented");
    EXPECT_EQ(seenName, "ULVEX_\xC3\xA9");
    SetEnvironmentVariableA("ULVEX_\xC3\xA9", nullptr);
}

int lookups = 0;
DWORD WINAPI countingGetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
    ++lookups;
    return GetEnvironmentVariableA(name, buffer, size);
}

TEST_F(EnvironmentTest, NullNameOrFailedConversionGivesNullWithoutLookup) {
    jnitest::ImportHook hook(library.handle(), "KERNEL32.dll", "GetEnvironmentVariableA",
                             countingGetEnvironmentVariableA);
    lookups = 0;
    EXPECT_EQ(host.call(lookup, nullptr), nullptr);
    EXPECT_EQ(host.conversions(), 0);
    EXPECT_FALSE(host.exceptionPending());

    host.failConversion(1);
    EXPECT_EQ(host.call(lookup, host.string("PATH")), nullptr);
    EXPECT_EQ(host.exceptionClass(), "java/lang/OutOfMemoryError");
    EXPECT_EQ(lookups, 0);
}

TEST_F(EnvironmentTest, FailedStringCreationGivesNullAfterRelease) {
    SetEnvironmentVariableA("ULVEX_SHORT", "x");
    SetEnvironmentVariableA("ULVEX_LONG", std::string(6000, 'y').c_str());
    for (const char* name : {"ULVEX_SHORT", "ULVEX_LONG"}) {
        jnitest::JniHost failing;
        failing.failNewStringUTF();
        EXPECT_EQ(failing.call(lookup, failing.string(name)), nullptr) << name;
        EXPECT_EQ(failing.exceptionClass(), "java/lang/OutOfMemoryError") << name;
        EXPECT_EQ(failing.stringReleases(), 1) << name;
    }
    SetEnvironmentVariableA("ULVEX_SHORT", nullptr);
    SetEnvironmentVariableA("ULVEX_LONG", nullptr);
}

std::vector<DWORD> offeredSizes;
DWORD WINAPI sizeRecordingGetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
    offeredSizes.push_back(size);
    if (std::string(name) == "ULVEX_GROWING") {
        SetEnvironmentVariableA(name, std::string(size + 1, 'v').c_str());
    }
    DWORD count = GetEnvironmentVariableA(name, buffer, size);
    if (offeredSizes.size() == 1 && std::string(name) == "ULVEX_VANISHING") {
        SetEnvironmentVariableA(name, nullptr);
    }
    return count;
}

// A 4096-byte buffer first; a longer value is fetched once more into a buffer of its size, and
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
    jnitest::ImportHook hook(library.handle(), "KERNEL32.dll", "GetEnvironmentVariableA",
                             sizeRecordingGetEnvironmentVariableA);
    for (const Case& c : cases) {
        offeredSizes.clear();
        SetEnvironmentVariableA(c.name, std::string(c.length, 'v').c_str());
        EXPECT_EQ(valueOf(host.string(c.name)), c.found ? std::string(c.length, 'v') : "<null>")
            << c.name;
        EXPECT_EQ(offeredSizes, c.sizes) << c.name;
        SetEnvironmentVariableA(c.name, nullptr);
    }
}

// The value grows between the size query and the fetch: fetched again, whole.
DWORD WINAPI growingGetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
    if (++lookups == 2) {
        SetEnvironmentVariableA(name, std::string(9000, 'g').c_str());
    }
    return GetEnvironmentVariableA(name, buffer, size);
}

TEST_F(EnvironmentTest, ValueThatGrowsMeanwhileIsFetchedAgain) {
    SetEnvironmentVariableA("ULVEX_GROWING", std::string(5000, 's').c_str());
    jnitest::ImportHook hook(library.handle(), "KERNEL32.dll", "GetEnvironmentVariableA",
                             growingGetEnvironmentVariableA);
    lookups = 0;
    EXPECT_EQ(valueOf(host.string("ULVEX_GROWING")), std::string(9000, 'g'));
    EXPECT_EQ(lookups, 3);
    SetEnvironmentVariableA("ULVEX_GROWING", nullptr);
}

}  // namespace

// Reading and writing value data against the real registry of the Wine prefix.
#include "registry_support.h"

#include <map>

namespace regtest {
namespace {

using Bytes = std::vector<std::uint8_t>;
using KeyGetValue = RegistryTest;
using KeySetValue = RegistryTest;

std::string environmentVariable(const char* name) {
    char value[4096] = {};
    DWORD count = GetEnvironmentVariableA(name, value, sizeof value);
    EXPECT_GT(count, 0u) << name;
    return value;
}

Bytes text(const std::string& value, bool terminated = true) {
    Bytes bytes(value.begin(), value.end());
    if (terminated) {
        bytes.push_back(0);
    }
    return bytes;
}

// The UTF-16 bytes of UTF-8 text, with the terminator, as a W program stores them.
Bytes utf16(const std::string& value) {
    std::wstring units = wide(value);
    auto* first = reinterpret_cast<const std::uint8_t*>(units.c_str());
    return Bytes(first, first + (units.size() + 1) * sizeof(wchar_t));
}

const std::string otherText = "Zoë Łódź Пётр 東京 😀";

// What keyGetValue made of a value, as one comparable text.
std::string describe(jnitest::JniHost& host, jobject result) {
    if (result == nullptr) {
        return host.exceptionPending() ? "raised " + host.exceptionMessage() : "null";
    }
    std::string kind = host.className(result);
    if (kind == "java/lang/String") {
        return "String " + host.utf8(static_cast<jstring>(result));
    }
    if (kind == "java/lang/Integer") {
        return "Integer " + std::to_string(host.integerValue(result));
    }
    std::string bytes = "byte[]";
    for (std::uint8_t byte : host.bytes(static_cast<jbyteArray>(result))) {
        bytes += " " + std::to_string(byte);
    }
    return bytes;
}

// Written by an A program (code-page bytes) or, under a key and value name beyond ASCII, by a W
// program. The value name of the others is longer than the library's stack buffer for it.
TEST_F(KeyGetValue, ValuesWrittenElsewhereReadByType) {
    std::string systemRoot = environmentVariable("SystemRoot");
    const std::string stackSized(1024, 's');  // the size one query on the stack takes
    SetEnvironmentVariableW(L"ULVEX_TEXT", wide(otherText).c_str());
    struct Case {
        DWORD type;
        Bytes data;
        std::string expected;
        bool byW = false;
    };
    const Case cases[] = {
        {REG_NONE, {1, 2, 255}, "byte[] 1 2 255"},
        {REG_NONE, {}, "byte[]"},
        {REG_SZ, text("abc"), "String abc"},
        {REG_SZ, text("abc", false), "String abc"},
        {REG_SZ, {}, "String "},
        {REG_SZ, {0xC3, 0xA9, 0}, "String \xC3\xA9"},  // the form keySetValue stores
        {REG_SZ, {'a', 'b', 0, 'c', 0}, "String ab"},
        {REG_SZ, {0x35, 0xB0, 0x43, 0}, "String 5°C"},
        {REG_SZ, {'1', '0', '0', ' ', 0x80, 0}, "String 100 €"},
        {REG_SZ, utf16(otherText), "String " + otherText, true},
        {REG_SZ, utf16("Ã©Ā"), "String Ã©Ā", true},
        {REG_SZ, utf16("Ã©東"), "String Ã©東", true},
        {REG_SZ, utf16("Á€"), "String Á€", true},
        {REG_EXPAND_SZ, utf16("%ULVEX_TEXT%é"), "String " + otherText + "é", true},
        {REG_EXPAND_SZ, text("\xC3\xA9%ULVEX_TEXT%"), "String é" + otherText},
        {REG_SZ, text(stackSized.substr(1), false), "String " + stackSized.substr(1)},
        {REG_SZ, text(stackSized, false), "String " + stackSized},
        {REG_SZ, text(stackSized + "s", false), "String " + stackSized + "s"},
        {REG_EXPAND_SZ, text("%SystemRoot%\\x"), "String " + systemRoot + "\\x"},
        {REG_EXPAND_SZ, text("%SystemRoot%", false), "String " + systemRoot},
        {REG_EXPAND_SZ, text("%NoSuchVariable9%"), "String %NoSuchVariable9%"},
        {REG_EXPAND_SZ, {}, "String "},
        {REG_BINARY, {0, 7, 0x80}, "byte[] 0 7 128"},
        {REG_BINARY, {}, "byte[]"},
        {REG_DWORD, {1, 0, 0, 0}, "Integer 1"},
        {REG_DWORD, {0x78, 0x56, 0x34, 0x12}, "Integer 305419896"},
        {REG_DWORD, {255, 255, 255, 255}, "Integer -1"},
        {REG_DWORD, {0x34, 0x12}, "Integer 4660"},
        {REG_DWORD, {}, "Integer 0"},
        {REG_DWORD, {1, 0, 0, 0, 9, 9}, "Integer 1"},
        {REG_DWORD_BIG_ENDIAN, {1, 0, 0, 0}, "Integer 1"},
        {REG_DWORD_BIG_ENDIAN, {0, 0, 0, 1}, "Integer 16777216"},
        {REG_LINK, text("x"), "raised Unsupported data type"},
        {REG_MULTI_SZ, {'a', 0, 0}, "raised Unsupported data type"},
        {REG_RESOURCE_LIST, {1}, "raised Unsupported data type"},
        {REG_FULL_RESOURCE_DESCRIPTOR, {1}, "raised Unsupported data type"},
        {REG_RESOURCE_REQUIREMENTS_LIST, {1}, "raised Unsupported data type"},
        {REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}, "raised Unsupported data type"},
        {0x1234, {1}, "raised Unsupported data type"},
    };
    for (const Case& c : cases) {
        jnitest::JniHost fresh;
        const std::string path = c.byW ? scratch.child("Küche") : scratch.path();
        const std::string name = c.byW ? "Zoë" : std::string(300, 'v');
        c.byW ? rawSetValueW(path, name, c.type, c.data)
              : rawSetValue(path, name.c_str(), c.type, c.data);
        jobject result =
            fresh.call(registry.keyGetValue, currentUser, fresh.string(path), fresh.string(name));
        EXPECT_EQ(describe(fresh, result), c.expected) << "type " << c.type;
        bool raises = c.expected.rfind("raised ", 0) == 0;
        EXPECT_EQ(fresh.exceptionsRaised(), raises ? 1 : 0) << "type " << c.type;
        EXPECT_EQ(fresh.exceptionPending(), raises) << "type " << c.type;
        if (raises) {
            EXPECT_EQ(fresh.exceptionClass(), registryException);
        }
    }
}

TEST_F(KeyGetValue, FailuresRaiseAndReturnNull) {
    struct Case {
        std::string path;
        const char* message;
    };
    for (const Case& c : {Case{scratch.path(), "Error retreiving registry value"},
                          Case{scratch.child("none"), "Error opening registry key"}}) {
        jnitest::JniHost fresh;
        EXPECT_EQ(fresh.call(registry.keyGetValue, currentUser, fresh.string(c.path),
                             fresh.string("absent")),
                  nullptr);
        EXPECT_EQ(fresh.exceptionClass(), registryException);
        EXPECT_EQ(fresh.exceptionMessage(), c.message);
        EXPECT_EQ(fresh.exceptionsRaised(), 1);
    }
}

// The value is rewritten larger, of its own type or another, before the nth data query (before
// each one when n is 0): read again at the size reported, at most four queries in all, each
// offering exactly the room it names, and returned by the type of the query that delivered it.
TEST_F(KeyGetValue, ValueGrownWhileReadIsReadWhole) {
    const std::string path = scratch.path();
    const std::map<int, std::vector<DWORD>> offeredByGrowAt = {
        {1, {2048, 2050}}, {2, {2048, 3000, 3002}}, {0, {2048, 2050, 2052, 2054}}};
    // `size` bytes of data: text as the A function stores it, one UTF-16 unit a character.
    auto write = [&](DWORD type, DWORD size) {
        rawSetValue(path, "v", type, Bytes(type == REG_BINARY ? size : size / 2, 'g'));
    };
    for (DWORD type : {DWORD{REG_SZ}, DWORD{REG_EXPAND_SZ}, DWORD{REG_BINARY}}) {
        for (DWORD grownType : {type, type == REG_BINARY ? DWORD{REG_SZ} : DWORD{REG_BINARY}}) {
            for (const auto& [at, offered] : offeredByGrowAt) {
                const int growAt = at;
                jnitest::JniHost fresh;
                write(type, growAt == 1 ? 2 : 3000);
                std::vector<DWORD> seen;
                hooks.beforeDataQuery = [&](DWORD size) {
                    seen.push_back(size);
                    if (static_cast<int>(seen.size()) == growAt || growAt == 0) {
                        write(grownType, size + 2);
                    }
                };
                jobject result = fresh.call(registry.keyGetValue, currentUser, fresh.string(path),
                                            fresh.string("v"));
                std::string whole = grownType == REG_BINARY ? "byte[]" : "String ";
                for (DWORD byte = 0; byte < offered.back();
                     byte += grownType == REG_BINARY ? 1 : 2) {
                    whole += grownType == REG_BINARY ? " 103" : "g";
                }
                std::string row = std::to_string(type) + " to " + std::to_string(grownType) +
                                  " at " + std::to_string(growAt);
                EXPECT_EQ(describe(fresh, result),
                          growAt == 0 ? "raised Error retreiving registry value" : whole)
                    << row;
                EXPECT_EQ(seen, offered) << row;
            }
        }
    }
    hooks.beforeDataQuery = nullptr;
}

// The environment grows past the buffer before the first `grows` expansions into it: expanded
// again at the size reported, at most three times.
TEST_F(KeyGetValue, ExpansionGrownWhileExpandedIsExpandedAgain) {
    rawSetValue(scratch.path(), "v", REG_EXPAND_SZ, text("%ULVEX_GROWING%"));
    for (int grows : {1, 2, 3}) {
        jnitest::JniHost fresh;
        hooks.expansionCalls.clear();
        std::string grown = "e";
        SetEnvironmentVariableA("ULVEX_GROWING", grown.c_str());
        int calls = 0;
        hooks.beforeExpansion = [&](DWORD offered) {
            if (++calls > 1 && calls <= 1 + grows) {
                grown.assign(offered + 8, 'e');
                SetEnvironmentVariableA("ULVEX_GROWING", grown.c_str());
            }
        };
        jobject result = fresh.call(registry.keyGetValue, currentUser, fresh.string(scratch.path()),
                                    fresh.string("v"));
        EXPECT_EQ(describe(fresh, result),
                  grows == 3 ? "raised Error expanding registry strings" : "String " + grown);
        EXPECT_EQ(calls, std::min(2 + grows, 4)) << grows;
        for (size_t call = 1; call < hooks.expansionCalls.size(); ++call) {
            EXPECT_EQ(hooks.expansionCalls[call].first, hooks.expansionCalls[call - 1].second);
        }
    }
    hooks.beforeExpansion = nullptr;
    SetEnvironmentVariableA("ULVEX_GROWING", nullptr);
}

TEST_F(KeyGetValue, NullArgumentsReturnNullWithoutRegistryCall) {
    EXPECT_EQ(host.call(registry.keyGetValue, currentUser, jstring{}, host.string("v")), nullptr);
    EXPECT_EQ(host.call(registry.keyGetValue, currentUser, host.string(scratch.path()), jstring{}),
              nullptr);
    expectNothingRaised();
    EXPECT_EQ(hooks.registryCalls.load(), 0);
    EXPECT_EQ(host.conversions(), 0);
}

TEST_F(KeyGetValue, VirtualMachineFailuresLeaveTheirOwnException) {
    rawSetValue(scratch.path(), "bytes", REG_BINARY, {1});
    rawSetValue(scratch.path(), "number", REG_DWORD, {1, 0, 0, 0});
    rawSetValue(scratch.path(), "text", REG_SZ, text("t"));
    struct Case {
        void (*inject)(jnitest::JniHost&);
        const char* name;
        const char* exceptionClass;
    };
    const Case cases[] = {
        {[](jnitest::JniHost& h) { h.failConversion(2); }, "text", "java/lang/OutOfMemoryError"},
        {[](jnitest::JniHost& h) { h.failNewByteArray(); }, "bytes", "java/lang/OutOfMemoryError"},
        {[](jnitest::JniHost& h) { h.failNewString(); }, "text", "java/lang/OutOfMemoryError"},
        {[](jnitest::JniHost& h) { h.failFindClass("java/lang/Integer"); }, "number",
         "java/lang/NoClassDefFoundError"},
        {[](jnitest::JniHost& h) { h.failGetMethodID("<init>"); }, "number",
         "java/lang/NoSuchMethodError"},
    };
    for (const Case& c : cases) {
        jnitest::JniHost fresh;
        c.inject(fresh);
        EXPECT_EQ(fresh.call(registry.keyGetValue, currentUser, fresh.string(scratch.path()),
                             fresh.string(c.name)),
                  nullptr);
        EXPECT_EQ(fresh.exceptionClass(), c.exceptionClass) << c.name;
        EXPECT_EQ(fresh.exceptionsRaised(), 1) << c.name;
    }
}

TEST_F(KeySetValue, WritesTheTypeAndBytesGiven) {
    struct Case {
        jint type;
        jobject (*make)(jnitest::JniHost&);
        Bytes stored;
    };
    const Case cases[] = {
        {REG_NONE,
         [](jnitest::JniHost& h) -> jobject {
             return h.byteArray({1, 2});
         },
         {1, 2}},
        {REG_BINARY, [](jnitest::JniHost& h) -> jobject { return h.byteArray({}); }, {}},
        {REG_BINARY,
         [](jnitest::JniHost& h) -> jobject {
             return h.byteArray({0, 255});
         },
         {0, 255}},
        {REG_BINARY, [](jnitest::JniHost& h) -> jobject { return h.byteArray(Bytes(20000, 7)); },
         Bytes(20000, 7)},
        {REG_SZ, [](jnitest::JniHost& h) -> jobject { return h.string("abc"); }, text("abc")},
        {REG_SZ, [](jnitest::JniHost& h) -> jobject { return h.string(""); }, {0}},
        {REG_SZ,
         [](jnitest::JniHost& h) -> jobject { return h.string(u"\u00e9t\u00e9"); },
         {0xC3, 0xA9, 't', 0xC3, 0xA9, 0}},
        {REG_SZ,
         [](jnitest::JniHost& h) -> jobject { return h.string(u"5°C 😀"); },
         {'5', 0xC2, 0xB0, 'C', ' ', 0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80, 0}},
        {REG_EXPAND_SZ, [](jnitest::JniHost& h) -> jobject { return h.string("%SystemRoot%"); },
         text("%SystemRoot%")},
        {REG_DWORD,
         [](jnitest::JniHost& h) { return h.integer(0x12345678); },
         {0x78, 0x56, 0x34, 0x12}},
        {REG_DWORD, [](jnitest::JniHost& h) { return h.integer(-2); }, {254, 255, 255, 255}},
        {REG_DWORD_BIG_ENDIAN, [](jnitest::JniHost& h) { return h.integer(1); }, {1, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        jnitest::JniHost fresh;
        jobject value = c.make(fresh);
        bool isArray = fresh.className(value) == "[B";
        auto array = static_cast<jbyteArray>(value);
        if (isArray && !c.stored.empty()) {
            hooks.whileWriting = [&] { fresh.store(array, 0, {0x99}); };  // as Java code would
        }
        fresh.call(registry.keySetValue, currentUser, fresh.string(scratch.path()),
                   fresh.string("v"), c.type, value, jboolean{0});
        hooks.whileWriting = nullptr;
        if (isArray) {
            EXPECT_EQ(fresh.bytesCopied(), static_cast<long long>(c.stored.size()))
                << "pinned or written back";
            EXPECT_TRUE(c.stored.empty() || fresh.bytes(array)[0] == 0x99) << "a store was lost";
        }
        EXPECT_FALSE(fresh.exceptionPending()) << fresh.exceptionMessage();
        ASSERT_FALSE(hooks.writes.empty());
        EXPECT_EQ(hooks.writes.back().data, c.stored) << "handed to Windows, type " << c.type;
        RawValue stored = rawGetValue(scratch.path(), "v");
        EXPECT_EQ(stored.type, static_cast<DWORD>(c.type));
        EXPECT_EQ(stored.bytes, c.stored) << "type " << c.type;
    }
    EXPECT_TRUE(hooks.broadcasts.empty());
}

TEST_F(KeySetValue, RoundTripsThroughKeyGetValue) {
    std::string systemRoot = environmentVariable("SystemRoot");
    host.call(registry.keySetValue, currentUser, host.string(scratch.path()), host.string("e"),
              jint{REG_EXPAND_SZ}, host.string("%SystemRoot%\\y"), jboolean{0});
    host.call(registry.keySetValue, currentUser, host.string(scratch.path()), host.string("t"),
              jint{REG_SZ}, host.string(otherText), jboolean{0});
    host.call(registry.keySetValue, currentUser, host.string(scratch.path()), host.string("b"),
              jint{REG_DWORD_BIG_ENDIAN}, host.integer(-5), jboolean{0});
    jstring path = host.string(scratch.path());
    EXPECT_EQ(describe(host, host.call(registry.keyGetValue, currentUser, path, host.string("e"))),
              "String " + systemRoot + "\\y");
    EXPECT_EQ(rawGetValue(scratch.path(), "e").bytes, text("%SystemRoot%\\y"));
    EXPECT_EQ(host.call(registry.keyGetValueType, currentUser, path, host.string("e")),
              REG_EXPAND_SZ);
    EXPECT_EQ(describe(host, host.call(registry.keyGetValue, currentUser, path, host.string("b"))),
              "Integer -5");
    EXPECT_EQ(describe(host, host.call(registry.keyGetValue, currentUser, path, host.string("t"))),
              "String " + otherText);
    expectNothingRaised();
}

TEST_F(KeySetValue, RefusedObjectsAndTypesWriteNothingAndStillBroadcast) {
    struct Case {
        jint type;
        jobject (*make)(jnitest::JniHost&);
        const char* message;
    };
    auto none = [](jnitest::JniHost&) -> jobject { return nullptr; };
    auto integer = [](jnitest::JniHost& h) { return h.integer(1); };
    auto string = [](jnitest::JniHost& h) -> jobject { return h.string("s"); };
    auto bytes = [](jnitest::JniHost& h) -> jobject { return h.byteArray({1}); };
    auto plain = [](jnitest::JniHost& h) { return h.object("java/lang/Object"); };
    const Case cases[] = {
        {REG_NONE, none, "Incompatible data types"},
        {REG_SZ, none, "Incompatible data types"},
        {REG_EXPAND_SZ, none, "Incompatible data types"},
        {REG_BINARY, none, "Incompatible data types"},
        {REG_DWORD, none, "Incompatible data types"},
        {REG_DWORD_BIG_ENDIAN, none, "Incompatible data types"},
        {REG_SZ, integer, "Incompatible data types"},
        {REG_BINARY, string, "Incompatible data types"},
        {REG_DWORD, bytes, "Incompatible data types"},
        {REG_EXPAND_SZ, plain, "Incompatible data types"},
        {REG_MULTI_SZ, string, "Not implemented"},
        {REG_LINK, string, "Unsupported value type"},
        {8, bytes, "Unsupported value type"},
        {REG_QWORD, integer, "Unsupported value type"},
        {-1, integer, "Unsupported value type"},
        {-2147483647 - 1, integer, "Unsupported value type"},
    };
    for (const Case& c : cases) {
        jnitest::JniHost fresh;
        hooks.broadcasts.clear();
        fresh.call(registry.keySetValue, currentUser, fresh.string(scratch.path()),
                   fresh.string("v"), c.type, c.make(fresh), jboolean{1});
        EXPECT_EQ(fresh.exceptionClass(), registryException);
        EXPECT_EQ(fresh.exceptionMessage(), c.message) << "type " << c.type;
        EXPECT_EQ(fresh.exceptionsRaised(), 1);
        EXPECT_EQ(hooks.broadcasts.size(), 1u) << "type " << c.type;
    }
    EXPECT_TRUE(hooks.writes.empty());
    EXPECT_FALSE(rawGetValue(scratch.path(), "v").found);
}

TEST_F(KeySetValue, UnsupportedTypesNeverLookAtTheValue) {
    struct Case {
        jint type;
        const char* message;
    };
    const Case cases[] = {
        {REG_LINK, "Unsupported value type"},
        {REG_MULTI_SZ, "Not implemented"},
        {REG_RESOURCE_LIST, "Unsupported value type"},
        {REG_QWORD, "Unsupported value type"},
        {-1, "Unsupported value type"},
    };
    const std::vector<std::string> expected = {
        "GetStringUTFChars", "RegOpenKeyExA", "ReleaseStringUTFChars", "GetStringUTFChars",
        "FindClass",         "ThrowNew",      "ReleaseStringUTFChars", "RegCloseKey"};
    for (const Case& c : cases) {
        jnitest::JniHost fresh;
        hooks.follow(fresh);
        fresh.call(registry.keySetValue, currentUser, fresh.string(scratch.path()),
                   fresh.string("v"), c.type, fresh.string("s"), jboolean{0});
        EXPECT_EQ(hooks.takeTimeline(), expected) << "type " << c.type;
        EXPECT_EQ(fresh.exceptionClass(), registryException);
        EXPECT_EQ(fresh.exceptionMessage(), c.message) << "type " << c.type;
        EXPECT_EQ(fresh.exceptionsRaised(), 1);
    }
    EXPECT_TRUE(hooks.writes.empty());
}

TEST_F(KeySetValue, BroadcastsWhenTheFlagsLowByteIsSet) {
    struct Case {
        jboolean flag;
        size_t broadcasts;
    };
    for (Case c : {Case{0, 0}, Case{1, 1}, Case{2, 1}, Case{0x80, 1}}) {
        hooks.broadcasts.clear();
        host.call(registry.keySetValue, currentUser, host.string(scratch.path()), host.string("v"),
                  jint{REG_DWORD}, host.integer(c.flag), c.flag);
        EXPECT_EQ(hooks.broadcasts.size(), c.broadcasts) << int(c.flag);
        EXPECT_EQ(rawGetValue(scratch.path(), "v").bytes, (Bytes{c.flag, 0, 0, 0}));
    }
    expectNothingRaised();
}

TEST_F(KeySetValue, FailedWritesRaiseTheirMessages) {
    char* systemText = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
                   ERROR_ACCESS_DENIED, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                   reinterpret_cast<char*>(&systemText), 0, nullptr);
    ASSERT_NE(systemText, nullptr);
    std::string accessDenied = systemText;
    LocalFree(systemText);
    struct Case {
        jint type;
        LSTATUS status;
        jobject (*make)(jnitest::JniHost&);
        std::string message;
    };
    auto bytes = [](jnitest::JniHost& h) -> jobject { return h.byteArray({1}); };
    auto string = [](jnitest::JniHost& h) -> jobject { return h.string("s"); };
    auto integer = [](jnitest::JniHost& h) { return h.integer(1); };
    const Case cases[] = {
        {REG_NONE, ERROR_ACCESS_DENIED, bytes,
         "Error setting registry value (REG_NONE/REG_BINARY)"},
        {REG_BINARY, ERROR_ACCESS_DENIED, bytes,
         "Error setting registry value (REG_NONE/REG_BINARY)"},
        {REG_SZ, ERROR_ACCESS_DENIED, string, accessDenied},
        {REG_EXPAND_SZ, 0x2000ABCD, string, "Windows error 536914893"},
        {REG_DWORD, ERROR_ACCESS_DENIED, integer,
         "Error setting registry value (REG_DWORD/REG_DWORD_BIG_ENDIAN)"},
        {REG_DWORD_BIG_ENDIAN, ERROR_ACCESS_DENIED, integer,
         "Error setting registry value (REG_DWORD/REG_DWORD_BIG_ENDIAN)"},
    };
    for (const Case& c : cases) {
        jnitest::JniHost fresh;
        hooks.setValueStatus = c.status;
        hooks.broadcasts.clear();
        fresh.call(registry.keySetValue, currentUser, fresh.string(scratch.path()),
                   fresh.string("v"), c.type, c.make(fresh), jboolean{1});
        EXPECT_EQ(fresh.exceptionClass(), registryException);
        EXPECT_EQ(fresh.exceptionMessage(), c.message) << "type " << c.type;
        EXPECT_EQ(fresh.exceptionsRaised(), 1);
        EXPECT_EQ(hooks.broadcasts.size(), 1u);
    }
}

// Also a key found only by its UTF-16 name: values are written under the stored form alone.
TEST_F(KeySetValue, MissingKeyRaisesAndNeitherWritesNorBroadcasts) {
    rawSetValueW(scratch.child("Küche"), "", REG_SZ, {});
    for (const char* child : {"none", "Küche"}) {
        jnitest::JniHost fresh;
        fresh.call(registry.keySetValue, currentUser, fresh.string(scratch.child(child)),
                   fresh.string("v"), jint{REG_DWORD}, fresh.integer(1), jboolean{1});
        EXPECT_EQ(fresh.exceptionMessage(), "Error opening registry key") << child;
    }
    EXPECT_TRUE(hooks.writes.empty());
    EXPECT_TRUE(hooks.broadcasts.empty());
    EXPECT_FALSE(rawKeyExists(scratch.child("none")));
}

TEST_F(KeySetValue, NullPathOrNameDoesNothing) {
    host.call(registry.keySetValue, currentUser, jstring{}, host.string("v"), jint{REG_DWORD},
              host.integer(1), jboolean{1});
    host.call(registry.keySetValue, currentUser, host.string(scratch.path()), jstring{},
              jint{REG_DWORD}, host.integer(1), jboolean{1});
    expectNothingRaised();
    EXPECT_EQ(hooks.registryCalls.load(), 0);
    EXPECT_EQ(host.conversions(), 0);
    EXPECT_TRUE(hooks.broadcasts.empty());
}

TEST_F(KeySetValue, MissingConversionsWriteNothing) {
    struct Case {
        void (*inject)(jnitest::JniHost&);
        jint type;
        size_t broadcasts;
        const char* exceptionClass;
    };
    const char outOfMemory[] = "java/lang/OutOfMemoryError";
    const char noClass[] = "java/lang/NoClassDefFoundError";
    const Case cases[] = {
        {[](jnitest::JniHost& h) { h.failConversion(2); }, REG_SZ, 0, outOfMemory},  // the name
        {[](jnitest::JniHost& h) { h.failConversion(3); }, REG_SZ, 1, outOfMemory},  // the text
        {[](jnitest::JniHost&) { interception().failAllocationCall = 1; }, REG_BINARY, 1,
         registryException},  // the copy of the array
        {[](jnitest::JniHost& h) { h.failFindClass("java/lang/String"); }, REG_SZ, 1, noClass},
        {[](jnitest::JniHost& h) { h.failFindClass("[B"); }, REG_BINARY, 1, noClass},
        {[](jnitest::JniHost& h) { h.failFindClass("java/lang/Integer"); }, REG_DWORD, 1, noClass},
        {[](jnitest::JniHost& h) { h.failGetMethodID("intValue"); }, REG_DWORD, 1,
         "java/lang/NoSuchMethodError"},
    };
    for (const Case& c : cases) {
        jnitest::JniHost fresh;
        hooks.broadcasts.clear();
        hooks.allocationCalls = 0;
        hooks.failAllocationCall = 0;
        jobject value = c.type == REG_BINARY ? static_cast<jobject>(fresh.byteArray(Bytes(20000)))
                        : c.type == REG_SZ   ? static_cast<jobject>(fresh.string("s"))
                                             : fresh.integer(1);
        c.inject(fresh);
        fresh.call(registry.keySetValue, currentUser, fresh.string(scratch.path()),
                   fresh.string("v"), c.type, value, jboolean{1});
        EXPECT_TRUE(fresh.exceptionPending());
        EXPECT_EQ(fresh.exceptionClass(), c.exceptionClass) << "type " << c.type;
        EXPECT_EQ(fresh.exceptionsRaised(), 1);
        EXPECT_EQ(hooks.broadcasts.size(), c.broadcasts) << "type " << c.type;
        EXPECT_EQ(hooks.keysClosed.load(), hooks.keysOpened.load()) << "type " << c.type;
    }
    EXPECT_TRUE(hooks.writes.empty());
}

}  // namespace
}  // namespace regtest

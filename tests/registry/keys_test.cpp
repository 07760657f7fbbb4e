// Key operations and presence queries against the real registry of the Wine prefix.
#include "registry_support.h"

namespace regtest {
namespace {

using KeyCreate = RegistryTest;
using KeyDelete = RegistryTest;
using KeyExists = RegistryTest;
using KeyCounts = RegistryTest;
using KeyHasValue = RegistryTest;
using KeyGetValueType = RegistryTest;
using KeyDeleteValue = RegistryTest;

constexpr jint noSuchRoot = 0x7FFF0000;  // names no key: Windows answers ERROR_INVALID_HANDLE

TEST_F(KeyCreate, CreatesMissingKeyWithItsParents) {
    std::string path = scratch.child("a\\b\\c");
    EXPECT_EQ(host.call(registry.keyCreate, currentUser, host.string(path)), 0);
    expectNothingRaised();
    EXPECT_TRUE(rawKeyExists(path));
}

TEST_F(KeyCreate, ExistingKeyIsKeptAndRaises) {
    rawSetValue(scratch.path(), "kept", REG_DWORD, {7, 0, 0, 0});
    EXPECT_EQ(host.call(registry.keyCreate, currentUser, host.string(scratch.path())), 0);
    expectRaised("Attempted to create existing key");
    EXPECT_EQ(rawGetValue(scratch.path(), "kept").bytes, (std::vector<std::uint8_t>{7, 0, 0, 0}));
}

TEST_F(KeyCreate, RefusedCreationReturnsTheCodeAndRaisesNothing) {
    EXPECT_EQ(host.call(registry.keyCreate, noSuchRoot, host.string("Software")),
              ERROR_INVALID_HANDLE);
    expectNothingRaised();
}

TEST_F(KeyCreate, NullOrUnconvertiblePathReturnsMinusOne) {
    EXPECT_EQ(host.call(registry.keyCreate, currentUser, jstring{}), -1);
    expectNothingRaised();
    host.failConversion(1);
    EXPECT_EQ(host.call(registry.keyCreate, currentUser, host.string(scratch.child("x"))), -1);
    EXPECT_EQ(host.exceptionClass(), "java/lang/OutOfMemoryError");
    EXPECT_EQ(host.exceptionsRaised(), 1);
    EXPECT_EQ(hooks.registryCalls.load(), 0);
    EXPECT_EQ(host.conversions(), 0);
    EXPECT_FALSE(rawKeyExists(scratch.child("x")));
}

// Also when the path ends in a backslash, as a key written as "tree\\" is named, and a tree
// another program made under a name beyond ASCII.
TEST_F(KeyDelete, RemovesTheWholeTree) {
    for (std::string named : {"tree", "tree\\", "Küche"}) {
        std::string tree = named == "Küche" ? named : "tree";
        rawSetValueW(scratch.child(tree + "\\inner"), "v", REG_SZ, {'x', 0, 0, 0});
        rawSetValueW(scratch.child(tree), "w", REG_SZ, {'y', 0, 0, 0});
        EXPECT_EQ(host.call(registry.keyDelete, currentUser, host.string(scratch.child(named)),
                            jboolean{0}),
                  0)
            << named;
        expectNothingRaised();
        EXPECT_FALSE(rawKeyExists(scratch.child(tree))) << named;
    }
    EXPECT_TRUE(hooks.broadcasts.empty());
}

TEST_F(KeyDelete, RefusedDeletionReturnsTheCodeRaisesAndStillBroadcasts) {
    rawSetValue(scratch.child("kept"), "v", REG_SZ, {'x', 0});
    HKEY key = nullptr;  // the root for paths that name the root itself: never a real root
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, scratch.path().c_str(), 0, KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    const auto own = static_cast<jint>(reinterpret_cast<INT_PTR>(key));
    ASSERT_EQ(reinterpret_cast<HKEY>(static_cast<INT_PTR>(own)), key);
    const std::string none = scratch.child("none");
    struct Case {
        jint root;
        std::string path;
        jboolean broadcast;
        size_t broadcasts;
        jint code;
    };
    const Case cases[] = {
        {currentUser, none, 0, 0, ERROR_FILE_NOT_FOUND},
        {currentUser, none, 1, 1, ERROR_FILE_NOT_FOUND},
        {currentUser, none, 2, 1, ERROR_FILE_NOT_FOUND},
        {currentUser, none, 0x80, 1, ERROR_FILE_NOT_FOUND},
        {own, "", 0, 0, ERROR_INVALID_PARAMETER},
        {own, "", 1, 1, ERROR_INVALID_PARAMETER},
        {own, "\\\\\\", 1, 1, ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        jnitest::JniHost fresh;
        hooks.broadcasts.clear();
        EXPECT_EQ(fresh.call(registry.keyDelete, c.root, fresh.string(c.path), c.broadcast), c.code)
            << c.path;
        EXPECT_EQ(fresh.exceptionMessage(), "Could not delete registry key");
        EXPECT_EQ(fresh.exceptionClass(), registryException);
        EXPECT_EQ(fresh.exceptionsRaised(), 1);
        EXPECT_EQ(hooks.broadcasts.size(), c.broadcasts) << int(c.broadcast);
    }
    RegCloseKey(key);
    EXPECT_EQ(hooks.keyDeletions.size(), 4u) << "a path naming the root reached Windows";
    EXPECT_TRUE(rawGetValue(scratch.child("kept"), "v").found);
}

TEST_F(KeyDelete, NullOrUnconvertiblePathReturnsMinusOneWithoutBroadcast) {
    EXPECT_EQ(host.call(registry.keyDelete, currentUser, jstring{}, jboolean{1}), -1);
    expectNothingRaised();
    host.failConversion(1);
    EXPECT_EQ(host.call(registry.keyDelete, currentUser, host.string(scratch.path()), jboolean{1}),
              -1);
    EXPECT_EQ(hooks.registryCalls.load(), 0);
    EXPECT_EQ(host.conversions(), 0);
    EXPECT_TRUE(hooks.broadcasts.empty());
    EXPECT_TRUE(rawKeyExists(scratch.path()));
}

TEST_F(KeyExists, AnswersWithoutRaising) {
    struct Case {
        std::string path;
        jboolean expected;
    };
    const std::string byW = scratch.child("Küche Пётр");
    rawSetValueW(byW, "", REG_SZ, {});
    for (const Case& c : {Case{scratch.path(), 1}, Case{scratch.child("missing"), 0}, Case{byW, 1},
                          Case{byW + '\0' + "x", 0}}) {
        EXPECT_EQ(host.call(registry.keyExists, currentUser, host.string(c.path)), c.expected)
            << c.path;
    }
    EXPECT_EQ(host.call(registry.keyExists, noSuchRoot, host.string("Software")), 0);
    EXPECT_EQ(host.call(registry.keyExists, currentUser, jstring{}), 0);
    expectNothingRaised();
}

TEST_F(KeyCounts, ValuesAndSubKeysAreToldApart) {
    rawSetValue(scratch.child("values"), "v", REG_DWORD, {1, 0, 0, 0});
    rawCreateKey(scratch.child("subkeys\\inner"));
    rawCreateKey(scratch.child("empty"));
    struct Case {
        const char* child;
        jboolean hasSubKeys;
        jboolean hasValues;
    };
    for (Case c : {Case{"values", 0, 1}, Case{"subkeys", 1, 0}, Case{"empty", 0, 0}}) {
        jstring path = host.string(scratch.child(c.child));
        EXPECT_EQ(host.call(registry.keyHasSubKeys, currentUser, path), c.hasSubKeys) << c.child;
        EXPECT_EQ(host.call(registry.keyHasValues, currentUser, path), c.hasValues) << c.child;
    }
    expectNothingRaised();
}

TEST_F(KeyCounts, MissingKeyRaisesOpeningError) {
    for (auto count : {registry.keyHasSubKeys, registry.keyHasValues}) {
        jnitest::JniHost fresh;
        EXPECT_EQ(fresh.call(count, currentUser, fresh.string(scratch.child("none"))), 0);
        EXPECT_EQ(fresh.exceptionMessage(), "Error opening registry key");
        EXPECT_EQ(fresh.exceptionsRaised(), 1);
    }
}

TEST_F(KeyCounts, FailedCountRaisesItsOwnMessage) {
    hooks.queryInfoStatus = ERROR_ACCESS_DENIED;
    struct Case {
        decltype(registry.keyHasValues) count;
        const char* message;
    };
    for (Case c : {Case{registry.keyHasSubKeys, "Error counting registry subkeys"},
                   Case{registry.keyHasValues, "Error counting registry values"}}) {
        jnitest::JniHost fresh;
        EXPECT_EQ(fresh.call(c.count, currentUser, fresh.string(scratch.path())), 0);
        EXPECT_EQ(fresh.exceptionMessage(), c.message);
        EXPECT_EQ(fresh.exceptionsRaised(), 1);
    }
}

TEST_F(KeyCounts, NullOrUnconvertiblePathIsFalseWithoutRegistryCall) {
    for (auto query : {registry.keyExists, registry.keyHasSubKeys, registry.keyHasValues}) {
        jnitest::JniHost fresh;
        EXPECT_EQ(fresh.call(query, currentUser, jstring{}), 0);
        EXPECT_FALSE(fresh.exceptionPending());
        fresh.failConversion(1);
        EXPECT_EQ(fresh.call(query, currentUser, fresh.string(scratch.path())), 0);
        EXPECT_EQ(fresh.exceptionClass(), "java/lang/OutOfMemoryError");
        EXPECT_EQ(fresh.exceptionsRaised(), 1);
        EXPECT_EQ(fresh.conversions(), 0);
    }
    EXPECT_EQ(hooks.registryCalls.load(), 0);
}

TEST_F(KeyHasValue, ProbesPresenceOnly) {
    rawSetValue(scratch.path(), "present", REG_BINARY, {1});
    rawSetValue(scratch.path(), "", REG_SZ, {'d', 0});
    rawSetValueW(scratch.path(), "Zoë 東京", REG_BINARY, {1});
    struct Case {
        std::string name;
        jboolean expected;
    };
    for (const Case& c : {Case{"present", 1}, Case{"", 1}, Case{"absent", 0}, Case{"Zoë 東京", 1},
                          Case{std::string("Zoë 東京") + '\0' + "x", 0}}) {
        EXPECT_EQ(host.call(registry.keyHasValue, currentUser, host.string(scratch.path()),
                            host.string(c.name)),
                  c.expected)
            << c.name;
    }
    expectNothingRaised();
}

TEST_F(KeyHasValue, MissingKeyRaisesOpeningError) {
    EXPECT_EQ(host.call(registry.keyHasValue, currentUser, host.string(scratch.child("none")),
                        host.string("v")),
              0);
    expectRaised("Error opening registry key");
}

TEST_F(KeyHasValue, NullOrUnconvertibleArgumentsAreFalse) {
    EXPECT_EQ(host.call(registry.keyHasValue, currentUser, jstring{}, host.string("v")), 0);
    EXPECT_EQ(host.call(registry.keyHasValue, currentUser, host.string(scratch.path()), jstring{}),
              0);
    expectNothingRaised();
    EXPECT_EQ(hooks.registryCalls.load(), 0);
    EXPECT_EQ(host.conversions(), 0);
    host.failConversion(2);
    EXPECT_EQ(
        host.call(registry.keyHasValue, currentUser, host.string(scratch.path()), host.string("v")),
        0);
    EXPECT_EQ(host.exceptionClass(), "java/lang/OutOfMemoryError");
    EXPECT_EQ(host.exceptionsRaised(), 1);
    EXPECT_EQ(hooks.registryCalls.load(), 1);  // the open alone
    EXPECT_EQ(hooks.keysClosed.load(), 1);
}

TEST_F(KeyGetValueType, ReportsTheStoredTypeNumber) {
    for (DWORD type : {DWORD{REG_NONE}, DWORD{REG_SZ}, DWORD{REG_DWORD}, DWORD{REG_MULTI_SZ},
                       DWORD{REG_QWORD}, DWORD{0x1234}}) {
        std::string name = "t" + std::to_string(type);
        rawSetValue(scratch.path(), name.c_str(), type, {0, 0, 0, 0, 0, 0, 0, 0});
        EXPECT_EQ(host.call(registry.keyGetValueType, currentUser, host.string(scratch.path()),
                            host.string(name)),
                  static_cast<jint>(type));
    }
    rawSetValueW(scratch.child("Küche"), "Zoë", REG_QWORD, {0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(host.call(registry.keyGetValueType, currentUser, host.string(scratch.child("Küche")),
                        host.string("Zoë")),
              REG_QWORD);
    expectNothingRaised();
}

TEST_F(KeyGetValueType, FailuresRaiseAndReturnZero) {
    struct Case {
        std::string path;
        const char* message;
    };
    for (const Case& c : {Case{scratch.path(), "Error retreiving registry value"},
                          Case{scratch.child("none"), "Error opening registry key"}}) {
        jnitest::JniHost fresh;
        EXPECT_EQ(fresh.call(registry.keyGetValueType, currentUser, fresh.string(c.path),
                             fresh.string("absent")),
                  0);
        EXPECT_EQ(fresh.exceptionMessage(), c.message);
        EXPECT_EQ(fresh.exceptionsRaised(), 1);
    }
}

TEST_F(KeyGetValueType, NullArgumentsGiveMinusOneAndFailedNameConversionZero) {
    EXPECT_EQ(host.call(registry.keyGetValueType, currentUser, jstring{}, host.string("v")), -1);
    EXPECT_EQ(
        host.call(registry.keyGetValueType, currentUser, host.string(scratch.path()), jstring{}),
        -1);
    expectNothingRaised();
    EXPECT_EQ(hooks.registryCalls.load(), 0);
    EXPECT_EQ(host.conversions(), 0);
    host.failConversion(2);
    EXPECT_EQ(host.call(registry.keyGetValueType, currentUser, host.string(scratch.path()),
                        host.string("v")),
              0);
    EXPECT_EQ(host.exceptionClass(), "java/lang/OutOfMemoryError");
    EXPECT_EQ(hooks.registryCalls.load(), 1);
}

TEST_F(KeyDeleteValue, DeletesAndBroadcastsOnRequest) {
    struct Case {
        jboolean flag;  // only its low byte counts; any non-zero byte asks for the broadcast
        size_t broadcasts;
    };
    for (Case c : {Case{0, 0}, Case{1, 1}, Case{2, 1}, Case{0x80, 1}}) {
        hooks.broadcasts.clear();
        rawSetValue(scratch.path(), "gone", REG_DWORD, {1, 0, 0, 0});
        host.call(registry.keyDeleteValue, currentUser, host.string(scratch.path()),
                  host.string("gone"), c.flag);
        EXPECT_FALSE(rawGetValue(scratch.path(), "gone").found);
        EXPECT_EQ(hooks.broadcasts.size(), c.broadcasts) << int(c.flag);
    }
    rawSetValueW(scratch.child("Küche"), "Zoë", REG_DWORD, {1, 0, 0, 0});
    host.call(registry.keyDeleteValue, currentUser, host.string(scratch.child("Küche")),
              host.string("Zoë"), jboolean{0});
    EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, wide(scratch.child("Küche")).c_str(), L"Zoë",
                           RRF_RT_ANY, nullptr, nullptr, nullptr),
              ERROR_FILE_NOT_FOUND);
    expectNothingRaised();
}

TEST_F(KeyDeleteValue, MissingValueRaisesAndStillBroadcasts) {
    host.call(registry.keyDeleteValue, currentUser, host.string(scratch.path()),
              host.string("absent"), jboolean{1});
    expectRaised("Error deleting registry key value");
    EXPECT_EQ(hooks.broadcasts.size(), 1u);
}

TEST_F(KeyDeleteValue, MissingKeyRaisesWithoutBroadcast) {
    host.call(registry.keyDeleteValue, currentUser, host.string(scratch.child("none")),
              host.string("v"), jboolean{1});
    expectRaised("Error opening registry key");
    EXPECT_TRUE(hooks.broadcasts.empty());
}

TEST_F(KeyDeleteValue, NullOrUnconvertibleArgumentsDeleteNothing) {
    rawSetValue(scratch.path(), "", REG_SZ, {'d', 0});
    host.call(registry.keyDeleteValue, currentUser, jstring{}, jstring{}, jboolean{1});
    host.call(registry.keyDeleteValue, currentUser, host.string(scratch.path()), jstring{},
              jboolean{1});
    host.call(registry.keyDeleteValue, currentUser, jstring{}, host.string(""), jboolean{1});
    expectNothingRaised();
    EXPECT_EQ(hooks.registryCalls.load(), 0);
    EXPECT_EQ(host.conversions(), 0);
    host.failConversion(2);
    host.call(registry.keyDeleteValue, currentUser, host.string(scratch.path()), host.string(""),
              jboolean{1});
    EXPECT_EQ(host.exceptionClass(), "java/lang/OutOfMemoryError");
    EXPECT_TRUE(rawGetValue(scratch.path(), "").found) << "the default value was deleted";
    EXPECT_TRUE(hooks.broadcasts.empty());
}

}  // namespace
}  // namespace regtest

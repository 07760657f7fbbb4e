// What reaches Windows, and the failures Wine cannot produce, seen through the library's
// import table.
#include "registry_support.h"

namespace regtest {
namespace {

using WindowsCalls = RegistryTest;

const HKEY widenedCurrentUser = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0xFFFFFFFF80000001));
constexpr REGSAM viewBits = KEY_WOW64_32KEY | KEY_WOW64_64KEY;

TEST_F(WindowsCalls, EachOperationOpensWithItsMaskAndTheWidenedRoot) {
    rawSetValue(scratch.path(), "v", REG_DWORD, {1, 0, 0, 0});
    jstring path = host.string(scratch.path());
    jstring name = host.string("v");
    struct Case {
        const char* operation;
        std::function<void()> call;
        REGSAM mask;
    };
    const Case cases[] = {
        {"keyExists", [&] { host.call(registry.keyExists, currentUser, path); }, 0x20019},
        {"keyHasSubKeys", [&] { host.call(registry.keyHasSubKeys, currentUser, path); }, 0x20019},
        {"keyHasValues", [&] { host.call(registry.keyHasValues, currentUser, path); }, 0x20019},
        {"keyHasValue", [&] { host.call(registry.keyHasValue, currentUser, path, name); }, 0x20019},
        {"keyGetValueType", [&] { host.call(registry.keyGetValueType, currentUser, path, name); },
         0x20019},
        {"keyGetValue", [&] { host.call(registry.keyGetValue, currentUser, path, name); }, 0x20019},
        {"keySetValue",
         [&] {
             host.call(registry.keySetValue, currentUser, path, name, jint{REG_DWORD},
                       host.integer(2), jboolean{0});
         },
         0xF003F},
        {"keyDeleteValue",
         [&] { host.call(registry.keyDeleteValue, currentUser, path, name, jboolean{0}); },
         0xF003F},
    };
    for (const Case& c : cases) {
        hooks.opens.clear();
        c.call();
        ASSERT_EQ(hooks.opens.size(), 1u) << c.operation;
        EXPECT_EQ(hooks.opens[0].root, widenedCurrentUser) << c.operation;
        EXPECT_EQ(hooks.opens[0].path, scratch.path()) << c.operation;
        EXPECT_EQ(hooks.opens[0].options, 0u) << c.operation;
        EXPECT_EQ(hooks.opens[0].mask, c.mask) << c.operation;
        EXPECT_EQ(hooks.opens[0].mask & viewBits, 0u) << c.operation;
    }
    expectNothingRaised();
}

TEST_F(WindowsCalls, ReleasesAndWindowsCallsComeInOrder) {
    rawSetValue(scratch.path(), "v", REG_DWORD, {1, 0, 0, 0});
    rawSetValue(scratch.path(), "gone", REG_DWORD, {1, 0, 0, 0});
    const std::string present = scratch.path();
    const std::string missing = scratch.child("none");
    using Host = jnitest::JniHost;
    struct Case {
        const char* operation;
        std::function<void(Host&)> call;
        std::vector<std::string> expected;
    };
    const std::string convert = "GetStringUTFChars";
    const std::string release = "ReleaseStringUTFChars";
    const std::string open = "RegOpenKeyExA";
    const std::string close = "RegCloseKey";
    const std::string query = "RegQueryValueExA";
    const std::string queryW = "RegQueryValueExW";
    const std::string broadcast = "SendMessageTimeoutW";
    const Case cases[] = {
        {"keyExists",
         [&](Host& h) { h.call(registry.keyExists, currentUser, h.string(present)); },
         {convert, open, close, release}},
        {"keyExists missing",
         [&](Host& h) { h.call(registry.keyExists, currentUser, h.string(missing)); },
         {convert, open, release}},
        {"keyExists holding U+0000",
         [&](Host& h) {
             h.call(registry.keyExists, currentUser, h.string(scratch.child("Küche") + '\0' + "x"));
         },
         {convert, open, "GetStringLength", "GetStringRegion", release}},
        {"keyCreate",
         [&](Host& h) { h.call(registry.keyCreate, currentUser, h.string(scratch.child("new"))); },
         {convert, "RegCreateKeyExA", release, close}},
        {"keyCreate existing",
         [&](Host& h) { h.call(registry.keyCreate, currentUser, h.string(present)); },
         {convert, "RegCreateKeyExA", release, close, "FindClass", "ThrowNew"}},
        {"keyDelete missing",
         [&](Host& h) { h.call(registry.keyDelete, currentUser, h.string(missing), jboolean{1}); },
         {convert, "SHDeleteKeyA", release, "FindClass", "ThrowNew", broadcast}},
        {"keyHasSubKeys",
         [&](Host& h) { h.call(registry.keyHasSubKeys, currentUser, h.string(present)); },
         {convert, open, release, "RegQueryInfoKeyA", close}},
        {"keyHasValues missing",
         [&](Host& h) { h.call(registry.keyHasValues, currentUser, h.string(missing)); },
         {convert, open, release, "FindClass", "ThrowNew"}},
        {"keyHasValue",
         [&](Host& h) {
             h.call(registry.keyHasValue, currentUser, h.string(present), h.string("v"));
         },
         {convert, open, release, convert, query, release, close}},
        {"keyGetValueType",
         [&](Host& h) {
             h.call(registry.keyGetValueType, currentUser, h.string(present), h.string("v"));
         },
         {convert, open, release, convert, query, close, release}},
        {"keyGetValueType absent",
         [&](Host& h) {
             h.call(registry.keyGetValueType, currentUser, h.string(present), h.string("absent"));
         },
         {convert, open, release, convert, query, close, release, "FindClass", "ThrowNew"}},
        {"keyGetValue",
         [&](Host& h) {
             h.call(registry.keyGetValue, currentUser, h.string(present), h.string("v"));
         },
         {convert, open, release, convert, queryW, close, release, "FindClass", "GetMethodID",
          "NewObject"}},
        {"keyGetValue absent",
         [&](Host& h) {
             h.call(registry.keyGetValue, currentUser, h.string(present), h.string("absent"));
         },
         {convert, open, release, convert, queryW, close, release, "FindClass", "ThrowNew"}},
        {"keySetValue",
         [&](Host& h) {
             h.call(registry.keySetValue, currentUser, h.string(present), h.string("v"),
                    jint{REG_DWORD}, h.integer(2), jboolean{1});
         },
         {convert, open, release, convert, "FindClass", "GetObjectClass", "IsAssignableFrom",
          "GetObjectClass", "GetMethodID", "CallIntMethod", "ExceptionCheck", "RegSetValueExA",
          release, broadcast, close}},
        {"keySetValue refused text",
         [&](Host& h) {
             hooks.setValueStatus = ERROR_ACCESS_DENIED;
             h.call(registry.keySetValue, currentUser, h.string(present), h.string("v"),
                    jint{REG_SZ}, h.string("t"), jboolean{1});
             hooks.setValueStatus = 0;
         },
         {convert, open, release, convert, "FindClass", "GetObjectClass", "IsAssignableFrom",
          convert, "GetStringUTFLength", "RegSetValueExA", "FindClass", "ThrowNew", release,
          release, broadcast, close}},
        {"keySetValue missing key",
         [&](Host& h) {
             h.call(registry.keySetValue, currentUser, h.string(missing), h.string("v"),
                    jint{REG_DWORD}, h.integer(2), jboolean{1});
         },
         {convert, open, release, "FindClass", "ThrowNew"}},
        {"keyDeleteValue",
         [&](Host& h) {
             h.call(registry.keyDeleteValue, currentUser, h.string(present), h.string("gone"),
                    jboolean{1});
         },
         {convert, open, release, convert, "RegDeleteValueA", release, broadcast, close}},
        {"keyDeleteValue absent",
         [&](Host& h) {
             h.call(registry.keyDeleteValue, currentUser, h.string(present), h.string("gone"),
                    jboolean{1});
         },
         {convert, open, release, convert, "RegDeleteValueA", release, "FindClass", "ThrowNew",
          broadcast, close}},
    };
    for (const Case& c : cases) {
        jnitest::JniHost fresh;
        hooks.follow(fresh);
        c.call(fresh);
        EXPECT_EQ(hooks.takeTimeline(), c.expected) << c.operation;
    }
}

TEST_F(WindowsCalls, ValueQueriesAskOnlyForWhatIsUsed) {
    rawSetValue(scratch.path(), "v", REG_SZ, {'a', 0});
    jstring path = host.string(scratch.path());
    jstring name = host.string("v");
    struct Case {
        const char* operation;
        std::function<void()> call;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"keyHasValue", [&] { host.call(registry.keyHasValue, currentUser, path, name); }, {"v:"}},
        {"keyGetValueType",
         [&] { host.call(registry.keyGetValueType, currentUser, path, name); },
         {"v: type size"}},
        {"keyGetValue",
         [&] { host.call(registry.keyGetValue, currentUser, path, name); },
         {"v: type data size"}},
    };
    for (const Case& c : cases) {
        hooks.valueQueries.clear();
        c.call();
        EXPECT_EQ(hooks.valueQueries, c.expected) << c.operation;
    }
    expectNothingRaised();
}

TEST_F(WindowsCalls, KeyCreatePassesItsArguments) {
    std::string path = scratch.child("made");
    host.call(registry.keyCreate, currentUser, host.string(path));
    ASSERT_EQ(hooks.creates.size(), 1u);
    const CreateCall& call = hooks.creates[0];
    EXPECT_EQ(call.root, widenedCurrentUser);
    EXPECT_EQ(call.path, path);
    EXPECT_EQ(call.reserved, 0u);
    EXPECT_TRUE(call.classIsNull);
    EXPECT_EQ(call.options, static_cast<DWORD>(REG_OPTION_NON_VOLATILE));
    EXPECT_EQ(call.mask, 0xF003Fu);
    EXPECT_TRUE(call.securityIsNull);
    EXPECT_TRUE(call.dispositionAsked);
    EXPECT_TRUE(hooks.opens.empty());
    EXPECT_EQ(hooks.keysClosed.load(), 1);
}

TEST_F(WindowsCalls, KeyDeletePassesRootAndPathAndOpensNothing) {
    std::string path = scratch.child("doomed");
    rawCreateKey(path);
    host.call(registry.keyDelete, currentUser, host.string(path), jboolean{0});
    ASSERT_EQ(hooks.keyDeletions.size(), 1u);
    EXPECT_EQ(hooks.keyDeletions[0].root, widenedCurrentUser);
    EXPECT_EQ(hooks.keyDeletions[0].path, path);
    EXPECT_TRUE(hooks.opens.empty());
}

TEST_F(WindowsCalls, BroadcastUpdateSendsTheSettingsChange) {
    hooks.sendBroadcasts = true;
    host.call(registry.broadcastUpdate);
    ASSERT_EQ(hooks.broadcasts.size(), 1u);
    const BroadcastCall& call = hooks.broadcasts[0];
    EXPECT_EQ(call.window, HWND_BROADCAST);
    EXPECT_EQ(call.message, 0x001Au);
    EXPECT_EQ(call.wParam, 0u);
    EXPECT_EQ(call.text, "Environment");
    EXPECT_EQ(call.flags, 0x0002u);
    EXPECT_EQ(call.timeout, 5000u);
    EXPECT_TRUE(call.resultIsNull);
    EXPECT_TRUE(host.calls().empty());
}

TEST_F(WindowsCalls, AccessDeniedOnOpen) {
    hooks.openStatus = ERROR_ACCESS_DENIED;
    jstring path = host.string(scratch.path());
    EXPECT_EQ(host.call(registry.keyExists, currentUser, path), 0);
    expectNothingRaised();
    host.call(registry.keySetValue, currentUser, path, host.string("v"), jint{REG_DWORD},
              host.integer(1), jboolean{1});
    expectRaised("Error opening registry key");
    EXPECT_TRUE(hooks.writes.empty());
    EXPECT_TRUE(hooks.broadcasts.empty());
}

TEST_F(WindowsCalls, AccessDeniedOnCreateIsReturnedNotRaised) {
    hooks.createStatus = ERROR_ACCESS_DENIED;
    EXPECT_EQ(host.call(registry.keyCreate, currentUser, host.string(scratch.child("x"))),
              ERROR_ACCESS_DENIED);
    expectNothingRaised();
    EXPECT_EQ(hooks.keysClosed.load(), 0);
}

TEST_F(WindowsCalls, MoreDataWithoutALargerSizeEndsTheRead) {
    rawSetValue(scratch.path(), "v", REG_SZ, {'a', 0});
    hooks.dataQueryStatus = ERROR_MORE_DATA;
    EXPECT_EQ(
        host.call(registry.keyGetValue, currentUser, host.string(scratch.path()), host.string("v")),
        nullptr);
    expectRaised("Error retreiving registry value");
    EXPECT_EQ(hooks.valueQueries.size(), 1u);
    EXPECT_EQ(hooks.blocksAllocated.load(), 0);
}

TEST_F(WindowsCalls, FailedExpansionRaises) {
    rawSetValue(scratch.path(), "v", REG_EXPAND_SZ, {'%', 'O', 'S', '%', 0});
    for (int failing : {1, 2}) {
        jnitest::JniHost fresh;
        hooks.expansions = 0;
        hooks.failExpansionCall = failing;
        EXPECT_EQ(fresh.call(registry.keyGetValue, currentUser, fresh.string(scratch.path()),
                             fresh.string("v")),
                  nullptr);
        EXPECT_EQ(fresh.exceptionMessage(), "Error expanding registry strings") << failing;
        EXPECT_EQ(fresh.exceptionsRaised(), 1);
    }
}

TEST_F(WindowsCalls, ExpansionBufferIsTheSizeReported) {
    rawSetValue(scratch.path(), "v", REG_EXPAND_SZ, {'%', 'O', 'S', '%', 0});
    ASSERT_NE(
        host.call(registry.keyGetValue, currentUser, host.string(scratch.path()), host.string("v")),
        nullptr);
    ASSERT_EQ(hooks.expansionCalls.size(), 2u);
    EXPECT_EQ(hooks.expansionCalls[0].first, 0u);
    EXPECT_EQ(hooks.expansionCalls[1].first, hooks.expansionCalls[0].second);
}

TEST_F(WindowsCalls, FailedAllocationRaisesAndQueriesNothingMore) {
    const std::string longName(300, 'n');
    rawSetValue(scratch.path(), "long", REG_SZ, std::vector<std::uint8_t>(3000, 'a'));
    rawSetValue(scratch.path(), "expand", REG_EXPAND_SZ, {'%', 'O', 'S', '%', 0});
    rawSetValue(scratch.path(), "accent", REG_SZ, {0xC3, 0xA9, 0});
    rawSetValue(scratch.path(), longName.c_str(), REG_SZ, {'a', 0});
    struct Case {
        std::string name;
        int failing;  // the block for the name, the data, the stored-form check or the expansion
        int registryCalls;
        int expansions;
    };
    for (const Case& c : {Case{"long", 1, 2, 0}, Case{"expand", 1, 2, 1}, Case{"accent", 1, 2, 0},
                          Case{longName, 1, 1, 0}}) {
        jnitest::JniHost fresh;
        hooks.allocationCalls = 0;
        hooks.registryCalls = 0;
        hooks.expansions = 0;
        hooks.failAllocationCall = c.failing;
        EXPECT_EQ(fresh.call(registry.keyGetValue, currentUser, fresh.string(scratch.path()),
                             fresh.string(c.name)),
                  nullptr);
        EXPECT_EQ(fresh.exceptionMessage(), "Error retreiving registry value") << c.name;
        EXPECT_EQ(fresh.exceptionsRaised(), 1);
        EXPECT_EQ(hooks.registryCalls.load(), c.registryCalls) << c.name << c.failing;
        EXPECT_EQ(hooks.expansions.load(), c.expansions) << c.name << c.failing;
    }
}

TEST_F(WindowsCalls, TextIsReadIntoABufferWithATerminatorAfterTheData) {
    rawSetValue(scratch.path(), "v", REG_SZ, {'a', 'b', 'c'});
    jobject result =
        host.call(registry.keyGetValue, currentUser, host.string(scratch.path()), host.string("v"));
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(host.utf8(static_cast<jstring>(result)), "abc");
    EXPECT_EQ(hooks.blocksAllocated.load(), 0);
}

}  // namespace
}  // namespace regtest

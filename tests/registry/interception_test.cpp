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

TEST_F(WindowsCalls, ValueGrownBetweenTheQueries) {
    rawSetValue(scratch.path(), "v", REG_SZ, {'a', 0});
    hooks.dataQueryStatus = ERROR_MORE_DATA;
    EXPECT_EQ(
        host.call(registry.keyGetValue, currentUser, host.string(scratch.path()), host.string("v")),
        nullptr);
    expectRaised("Error retreiving registry value");
    EXPECT_EQ(hooks.blocksAllocated.load(), 1);
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

TEST_F(WindowsCalls, FailedAllocationRaisesAndQueriesNothingMore) {
    rawSetValue(scratch.path(), "text", REG_SZ, {'a', 0});
    rawSetValue(scratch.path(), "expand", REG_EXPAND_SZ, {'%', 'O', 'S', '%', 0});
    struct Case {
        const char* name;
        int failing;  // the data buffer is the first block, the expansion buffer the second
        int registryCalls;
        int expansions;
    };
    for (Case c : {Case{"text", 1, 2, 0}, Case{"expand", 1, 2, 0}, Case{"expand", 2, 3, 1}}) {
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
    EXPECT_EQ(host.newStringUtfBytes(static_cast<jstring>(result)), "abc");
    EXPECT_EQ(hooks.blocksAllocated.load(), 1);
}

}  // namespace
}  // namespace regtest

// Sixteen threads creating, writing, reading and deleting keys and values at once, some of
// them their own and some shared.
#include <algorithm>
#include <initializer_list>
#include <thread>

#include "registry_support.h"

namespace regtest {
namespace {

using Concurrency = RegistryTest;

constexpr int threadCount = 16;
constexpr DWORD runMilliseconds = 3000;

struct Outcome {
    int rounds = 0;
    int sharedDeletions = 0;
    std::vector<std::string> faults;
};

void fault(Outcome& outcome, const std::string& what) {
    if (outcome.faults.size() < 5) {
        outcome.faults.push_back(what);
    }
}

// One round on the thread's own key: every step must succeed without an exception.
void ownRound(const Exports& registry, jnitest::JniHost& host, const std::string& path, int round,
              Outcome& outcome) {
    jstring key = host.string(path);
    std::string text = "round " + std::to_string(round);
    if (host.call(registry.keyCreate, currentUser, key) != 0) {
        fault(outcome, "keyCreate");
    }
    host.call(registry.keySetValue, currentUser, key, host.string("text"), jint{REG_SZ},
              host.string(text), jboolean{0});
    host.call(registry.keySetValue, currentUser, key, host.string("number"), jint{REG_DWORD},
              host.integer(round), jboolean{0});
    jobject read = host.call(registry.keyGetValue, currentUser, key, host.string("text"));
    if (read == nullptr || host.utf8(static_cast<jstring>(read)) != text) {
        fault(outcome, "text read back");
    }
    read = host.call(registry.keyGetValue, currentUser, key, host.string("number"));
    if (read == nullptr || host.integerValue(read) != round) {
        fault(outcome, "number read back");
    }
    host.call(registry.keyDeleteValue, currentUser, key, host.string("number"), jboolean{0});
    if (host.call(registry.keyHasValue, currentUser, key, host.string("number")) != 0) {
        fault(outcome, "deleted value still present");
    }
    if (host.call(registry.keyDelete, currentUser, key, jboolean{0}) != 0) {
        fault(outcome, "keyDelete");
    }
    if (host.exceptionPending()) {
        fault(outcome, "raised " + host.exceptionMessage());
    }
}

// A call on the shared key may lose a race to another thread, which deleted the key or the
// value or made the key first; only the messages such a loss gives are accepted.
void settle(jnitest::JniHost& host, Outcome& outcome, const char* operation,
            std::initializer_list<std::string> accepted) {
    if (!host.exceptionPending()) {
        return;
    }
    std::string message = host.exceptionMessage();
    if (host.exceptionClass() != registryException ||
        std::find(accepted.begin(), accepted.end(), message) == accepted.end()) {
        fault(outcome, std::string("shared ") + operation + " raised " + message);
    }
    host.clearException();
}

std::string keyDeletedText() {
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
                   ERROR_KEY_DELETED, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                   reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = text != nullptr ? text : "Windows error 1018";
    LocalFree(text);
    return result;
}

// One round on the key all threads share: the key and its value come and go under the
// thread's feet, so only the kinds of answer are checked.
void sharedRound(const Exports& registry, jnitest::JniHost& host, const std::string& path,
                 int thread, Outcome& outcome) {
    static const std::string keyDeleted = keyDeletedText();
    const std::string opening = "Error opening registry key";
    jstring key = host.string(path);
    host.call(registry.keyCreate, currentUser, key);
    settle(host, outcome, "keyCreate", {"Attempted to create existing key"});
    host.call(registry.keySetValue, currentUser, key, host.string("shared"), jint{REG_DWORD},
              host.integer(thread), jboolean{0});
    settle(host, outcome, "keySetValue",
           {opening, "Error setting registry value (REG_DWORD/REG_DWORD_BIG_ENDIAN)"});
    host.call(registry.keySetValue, currentUser, key, host.string("shared"), jint{REG_SZ},
              host.string("from " + std::to_string(thread)), jboolean{0});
    settle(host, outcome, "keySetValue", {opening, keyDeleted});
    jobject read = host.call(registry.keyGetValue, currentUser, key, host.string("shared"));
    if (read != nullptr && host.className(read) != "java/lang/Integer" &&
        host.className(read) != "java/lang/String") {
        fault(outcome, "shared value of class " + host.className(read));
    }
    settle(host, outcome, "keyGetValue", {opening, "Error retreiving registry value"});
    host.call(registry.keyHasValues, currentUser, key);
    settle(host, outcome, "keyHasValues", {opening, "Error counting registry values"});
    host.call(registry.keyDeleteValue, currentUser, key, host.string("shared"), jboolean{0});
    settle(host, outcome, "keyDeleteValue", {opening, "Error deleting registry key value"});
    if (host.call(registry.keyDelete, currentUser, key, jboolean{0}) == 0) {
        ++outcome.sharedDeletions;
    }
    settle(host, outcome, "keyDelete", {"Could not delete registry key"});
}

void work(const Exports& registry, const ScratchKey& scratch, int thread, Outcome& outcome) {
    jnitest::JniHost host;
    std::string own = scratch.child("own" + std::to_string(thread));
    std::string shared = scratch.child("shared");
    ULONGLONG end = GetTickCount64() + runMilliseconds;
    while (GetTickCount64() < end) {
        ownRound(registry, host, own, outcome.rounds, outcome);
        host.clearException();
        sharedRound(registry, host, shared, thread, outcome);
        ++outcome.rounds;
    }
    for (const std::string& violation : host.violations()) {
        fault(outcome, violation);
    }
    if (host.heldPins() != 0) {
        fault(outcome, "pins still held");
    }
}

TEST_F(Concurrency, SixteenThreadsLeaveNoKeyPinOrBlockBehind) {
    hooks.recording = false;
    std::vector<Outcome> outcomes(threadCount);
    std::vector<std::thread> threads;
    for (int thread = 0; thread < threadCount; ++thread) {
        threads.emplace_back(work, std::cref(registry), std::cref(scratch), thread,
                             std::ref(outcomes[thread]));
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (int thread = 0; thread < threadCount; ++thread) {
        EXPECT_GT(outcomes[thread].rounds, 0) << "thread " << thread;
        for (const std::string& what : outcomes[thread].faults) {
            ADD_FAILURE() << "thread " << thread << ": " << what;
        }
        EXPECT_FALSE(rawKeyExists(scratch.child("own" + std::to_string(thread))));
    }
    EXPECT_GT(hooks.keysOpened.load(), threadCount * 8);
    int sharedDeletions = 0;
    for (const Outcome& outcome : outcomes) {
        sharedDeletions += outcome.sharedDeletions;
    }
    // Every time the shared key was made, one deletion succeeded, unless it outlived the run.
    EXPECT_TRUE(sharedDeletions > 0 || rawKeyExists(scratch.child("shared")));
}

}  // namespace
}  // namespace regtest

// Sixteen threads creating, writing, reading and deleting keys and values at once, some of
// them their own and some shared.
#include <thread>

#include "registry_support.h"

namespace regtest {
namespace {

using Concurrency = RegistryTest;

constexpr int threadCount = 16;
constexpr DWORD runMilliseconds = 3000;

struct Outcome {
    int rounds = 0;
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

// One round on the key all threads share: values come and go under the thread's feet, so
// only the kinds of answer are checked.
void sharedRound(const Exports& registry, jnitest::JniHost& host, const std::string& path,
                 int thread, Outcome& outcome) {
    jstring key = host.string(path);
    host.call(registry.keyCreate, currentUser, key);
    host.clearException();
    host.call(registry.keySetValue, currentUser, key, host.string("shared"), jint{REG_DWORD},
              host.integer(thread), jboolean{0});
    host.call(registry.keySetValue, currentUser, key, host.string("shared"), jint{REG_SZ},
              host.string("from " + std::to_string(thread)), jboolean{0});
    jobject read = host.call(registry.keyGetValue, currentUser, key, host.string("shared"));
    if (read != nullptr && host.className(read) != "java/lang/Integer" &&
        host.className(read) != "java/lang/String") {
        fault(outcome, "shared value of class " + host.className(read));
    }
    if (host.exceptionPending()) {
        std::string message = host.exceptionMessage();
        if (message != "Error retreiving registry value" &&
            message != "Error opening registry key") {
            fault(outcome, "shared raised " + message);
        }
        host.clearException();
    }
    host.call(registry.keyHasValues, currentUser, key);
    host.clearException();
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
}

}  // namespace
}  // namespace regtest

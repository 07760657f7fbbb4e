// Memory that cannot be had: every allocation the library makes can fail, on a thread that
// called in before and as a thread's very first call, and the export then gives its failure
// result and keeps nothing. Exports that allocate nothing are listed too: they must not
// allocate, and must still work when the guarded scopes' TLS slot cannot be set.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "family_calls.h"
#include "guarded_heap.h"
#include "import_hook.h"

namespace {

std::atomic<int> requests{0};  // the library's heap requests during one call
std::atomic<int> failing{0};   // the request that fails; 0: none

LPVOID WINAPI failingHeapAlloc(HANDLE heap, DWORD flags, SIZE_T size) {
    if (++requests == failing) {
        return nullptr;
    }
    return jnitest::guardedHeapAlloc(heap, flags, size);
}

BOOL WINAPI refusedTlsSetValue(DWORD, LPVOID) {
    return FALSE;
}

class AllocationTest : public ::testing::Test {
protected:
    FamilyData data;
    jnitest::Library library;
    jnitest::ImportHook heapAlloc{library.handle(), "KERNEL32.dll", "HeapAlloc", failingHeapAlloc};
};

// Runs the row once with the nth request failing; on a fresh thread when `firstCall`.
Outcome runOnce(const jnitest::Library& library, const FamilyCall& row, int nth, bool firstCall) {
    requests = 0;
    failing = nth;
    Outcome outcome = Outcome::wrong;
    auto body = [&] {
        jnitest::JniHost host;
        outcome = row.call(library, host);
    };
    if (firstCall) {
        std::thread(body).join();
    } else {
        body();
    }
    failing = 0;
    return outcome;
}

TEST_F(AllocationTest, EveryFailingAllocationGivesTheFailureResultAndKeepsNothing) {
    for (const FamilyCall& row : familyCalls) {
        ASSERT_EQ(runOnce(library, row, 0, false), Outcome::succeeded) << row.name;
        for (bool firstCall : {false, true}) {
            for (int nth = 1;; ++nth) {
                ASSERT_LT(nth, 16) << row.name << " keeps allocating";
                const long blocksHeld = jnitest::guardedBlocksHeld();
                Outcome outcome = runOnce(library, row, nth, firstCall);
                bool reached = requests >= nth;
                EXPECT_EQ(outcome, reached ? Outcome::failed : Outcome::succeeded)
                    << row.name << ", request " << nth << (firstCall ? ", first call" : "");
                EXPECT_EQ(jnitest::guardedBlocksHeld(), blocksHeld)
                    << row.name << ", request " << nth;
                if (!reached) {
                    std::printf("%-22s %-11s %d allocation(s), each failing one gives failed\n",
                                row.name, firstCall ? "first call" : "called in", nth - 1);
                    break;
                }
            }
        }
    }
}

TEST_F(AllocationTest, ExportsWorkWhenTheThreadsSlotCannotBeSet) {
    jnitest::ImportHook refused(library.handle(), "KERNEL32.dll", "TlsSetValue",
                                refusedTlsSetValue);
    for (const FamilyCall& row : familyCalls) {
        EXPECT_EQ(runOnce(library, row, 0, true), Outcome::succeeded) << row.name;
    }
}

}  // namespace

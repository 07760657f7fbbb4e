// Load and unload: the load-time window class "MYULVEXWIN32" and the entry routine.
#include <gtest/gtest.h>

#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "import_hook.h"
#include "library.h"
#include "load_interception.h"
#include "pe_image.h"
#include "family_calls.h"

namespace {

const char className[] = "MYULVEXWIN32";

ATOM registeredClass(HINSTANCE instance, WNDCLASSEXA* info) {
    info->cbSize = sizeof *info;
    return static_cast<ATOM>(GetClassInfoExA(instance, className, info));
}

using EntryPoint = BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID);

EntryPoint entryPoint(HMODULE module) {
    return reinterpret_cast<EntryPoint>(jnitest::imageAt<BYTE>(
        module, jnitest::ntHeaders(module)->OptionalHeader.AddressOfEntryPoint));
}

int unregisterCalls = 0;
BOOL WINAPI countingUnregisterClassA(LPCSTR, HINSTANCE) {
    ++unregisterCalls;
    return TRUE;
}

TEST(LifecycleTest, LoadTimeClassLivesWhileLoaded) {
    HINSTANCE module = nullptr;
    {
        jnitest::Library library;
        module = library.handle();
        WNDCLASSEXA info{};
        ASSERT_NE(registeredClass(module, &info), 0);
        EXPECT_EQ(info.style, 0x4203u);
        EXPECT_EQ(info.lpfnWndProc, reinterpret_cast<WNDPROC>(DefWindowProcA));
        EXPECT_EQ(info.hInstance, module);
        EXPECT_EQ(info.hbrBackground, reinterpret_cast<HBRUSH>(1));
        EXPECT_EQ(info.cbClsExtra, 0);
        EXPECT_EQ(info.cbWndExtra, 0);
        EXPECT_EQ(info.hIcon, nullptr);
        EXPECT_EQ(info.hCursor, nullptr);
        EXPECT_EQ(info.lpszMenuName, nullptr);
        // Application-global: found whatever instance is named.
        EXPECT_NE(registeredClass(GetModuleHandleA(nullptr), &info), 0);
    }
    WNDCLASSEXA info{};
    EXPECT_EQ(registeredClass(module, &info), 0);
    EXPECT_EQ(registeredClass(GetModuleHandleA(nullptr), &info), 0);
}

HMODULE threadCallsDisabledFor = nullptr;
BOOL WINAPI recordingDisableThreadLibraryCalls(HMODULE module) {
    threadCallsDisabledFor = module;
    return DisableThreadLibraryCalls(module);
}

void interceptThreadCalls(HMODULE module) {
    jnitest::redirectImport(module, "KERNEL32.dll", "DisableThreadLibraryCalls",
                            reinterpret_cast<const void*>(&recordingDisableThreadLibraryCalls));
}

// The loader is told at process attach not to call the library for threads; were it called,
// nothing would change.
TEST(LifecycleTest, ThreadAttachAndDetachChangeNothing) {
    threadCallsDisabledFor = nullptr;
    jnitest::LoadInterception interception(L"ulvexwin64.dll", &interceptThreadCalls);
    jnitest::Library library;
    EXPECT_EQ(threadCallsDisabledFor, library.handle());
    WNDCLASSEXA before{};
    ATOM atom = registeredClass(library.handle(), &before);
    ASSERT_NE(atom, 0);

    std::thread([] {}).join();
    EntryPoint entry = entryPoint(library.handle());
    EXPECT_EQ(entry(library.handle(), DLL_THREAD_ATTACH, nullptr), TRUE);
    EXPECT_EQ(entry(library.handle(), DLL_THREAD_DETACH, nullptr), TRUE);

    WNDCLASSEXA after{};
    EXPECT_EQ(registeredClass(library.handle(), &after), atom);
    EXPECT_EQ(after.hInstance, library.handle());
}

constexpr int slotFreed = 3;
BOOL WINAPI exitingTlsFree(DWORD slot) {
    TlsFree(slot);
    TerminateProcess(GetCurrentProcess(), slotFreed);
    return TRUE;
}

// The detach gives back the TLS slot at FreeLibrary; at process exit it does nothing, and the
// process takes back what the library holds.
TEST(LifecycleTest, DetachFreesTheSlotAtUnloadOnly) {
    for (bool unload : {true, false}) {
        EXPECT_EXIT(
            {
                HMODULE module = LoadLibraryA("ulvexwin64.dll");
                jnitest::redirectImport(module, "KERNEL32.dll", "TlsFree",
                                        reinterpret_cast<const void*>(&exitingTlsFree));
                if (unload) {
                    FreeLibrary(module);
                }
                std::exit(0);
            },
            ::testing::ExitedWithCode(unload ? slotFreed : 0), "")
            << (unload ? "FreeLibrary" : "process exit");
    }
}

// Where the library will be mapped: Wine maps a DLL at its preferred base while that is free.
HINSTANCE nextLoadAddress() {
    HMODULE probe = LoadLibraryExA("ulvexwin64.dll", nullptr, DONT_RESOLVE_DLL_REFERENCES);
    FreeLibrary(probe);
    return probe;
}

// A global class of that name registered first: the library's registration fails, the load
// still succeeds, and unloading leaves the class alone without calling UnregisterClassA.
// Wine tells classes apart by instance as well as name, so the earlier class is registered
// for the address the library will load at.
TEST(LifecycleTest, ExistingGlobalClassSurvivesLoadAndUnload) {
    HINSTANCE instance = nextLoadAddress();
    ASSERT_NE(instance, nullptr);
    WNDCLASSA own{};
    own.style = CS_GLOBALCLASS;
    own.lpfnWndProc = DefWindowProcA;
    own.hInstance = instance;
    own.lpszClassName = className;
    ATOM ownAtom = RegisterClassA(&own);
    ASSERT_NE(ownAtom, 0);

    HMODULE module = LoadLibraryA("ulvexwin64.dll");
    ASSERT_EQ(module, instance);
    WNDCLASSEXA info{};
    EXPECT_EQ(registeredClass(module, &info), ownAtom);
    EXPECT_EQ(info.style, static_cast<UINT>(CS_GLOBALCLASS));

    unregisterCalls = 0;
    jnitest::redirectImport(module, "USER32.dll", "UnregisterClassA",
                            reinterpret_cast<const void*>(countingUnregisterClassA));
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_EQ(unregisterCalls, 0);

    EXPECT_EQ(registeredClass(instance, &info), ownAtom);
    EXPECT_EQ(info.style, static_cast<UINT>(CS_GLOBALCLASS));
    EXPECT_TRUE(UnregisterClassA(className, instance));
}

TEST(LifecycleTest, UnloadUnregistersByAtomWithTheModuleHandle) {
    HMODULE module = LoadLibraryA("ulvexwin64.dll");
    ASSERT_NE(module, nullptr);
    WNDCLASSEXA info{};
    ATOM atom = registeredClass(module, &info);
    ASSERT_NE(atom, 0);

    static LPCSTR passedName;
    static HINSTANCE passedInstance;
    static decltype(&UnregisterClassA) real = UnregisterClassA;
    struct Recorder {
        static BOOL WINAPI unregister(LPCSTR name, HINSTANCE instance) {
            passedName = name;
            passedInstance = instance;
            return real(name, instance);
        }
    };
    jnitest::redirectImport(module, "USER32.dll", "UnregisterClassA",
                            reinterpret_cast<const void*>(Recorder::unregister));
    EXPECT_TRUE(FreeLibrary(module));

    EXPECT_EQ(reinterpret_cast<UINT_PTR>(passedName), static_cast<UINT_PTR>(atom));
    EXPECT_EQ(passedInstance, module);
    EXPECT_EQ(registeredClass(GetModuleHandleA(nullptr), &info), 0);
}

// Loading, using every family and unloading, again and again: what loading takes, unloading
// gives back. Wine reports the process's private memory as PagefileUsage (PrivateUsage stays
// empty there).
SIZE_T committedBytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PagefileUsage;
}

void loadUseAndUnload() {
    {
        jnitest::Library library;
        jnitest::JniHost host;
        for (const FamilyCall& call : familyCalls) {
            EXPECT_EQ(call.call(library, host), Outcome::succeeded) << call.name;
        }
    }
    ASSERT_EQ(GetModuleHandleA("ulvexwin64.dll"), nullptr) << "the library stayed loaded";
}

// Growth of committed memory over `cycles` load/use/unload cycles, per cycle.
long long growthPerCycle(int cycles) {
    auto before = static_cast<long long>(committedBytes());
    for (int i = 0; i < cycles; ++i) {
        loadUseAndUnload();
    }
    return (static_cast<long long>(committedBytes()) - before) / cycles;
}

// What the library keeps shows in every run of cycles; the heap's own steps, taken once as the
// process settles, in one run at most.
TEST(LifecycleTest, UnloadingGivesBackWhatLoadingTook) {
    FamilyData data;
    constexpr int cycles = 30;
    growthPerCycle(3);
    long long first = growthPerCycle(cycles);
    long long second = growthPerCycle(cycles);
    std::printf("committed memory grew by %lld and %lld bytes a cycle over two runs of %d cycles\n",
                first, second, cycles);
    // A statically linked C++ runtime kept about 17 KiB a cycle here; the library now keeps
    // nothing measurable.
    EXPECT_LE(std::min(first, second), 8 * 1024);
}

}  // namespace

// Shared pieces of the registry tests: the exports, a unique scratch key below
// HKEY_CURRENT_USER\Software, raw registry access that bypasses the library, and an
// interception of the library's registry, heap, expansion and broadcast imports that counts
// opened and closed keys and heap blocks, records arguments and can make a call fail.
#pragma once

#include <windows.h>

#include <com_ulvex_kesp_tavik_common_win32_Registry.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "import_hook.h"
#include "jni_host.h"
#include "library.h"

namespace regtest {

constexpr jint currentUser = -2147483647;  // HKEY_CURRENT_USER as Java passes it
constexpr char registryException[] = "com/ulvex/kesp/tavik/common/win32/RegistryException";

struct Exports {
    explicit Exports(const jnitest::Library& library);

    decltype(&Java_com_ulvex_kesp_tavik_common_win32_Registry_keyCreate) keyCreate;
    decltype(&Java_com_ulvex_kesp_tavik_common_win32_Registry_keyDelete) keyDelete;
    decltype(&Java_com_ulvex_kesp_tavik_common_win32_Registry_keyExists) keyExists;
    decltype(&Java_com_ulvex_kesp_tavik_common_win32_Registry_keyHasSubKeys) keyHasSubKeys;
    decltype(&Java_com_ulvex_kesp_tavik_common_win32_Registry_keyHasValues) keyHasValues;
    decltype(&Java_com_ulvex_kesp_tavik_common_win32_Registry_keyHasValue) keyHasValue;
    decltype(&Java_com_ulvex_kesp_tavik_common_win32_Registry_keyGetValueType) keyGetValueType;
    decltype(&Java_com_ulvex_kesp_tavik_common_win32_Registry_keyDeleteValue) keyDeleteValue;
    decltype(&Java_com_ulvex_kesp_tavik_common_win32_Registry_broadcastUpdate) broadcastUpdate;
    decltype(&Java_com_ulvex_kesp_tavik_common_win32_Registry_keyGetValue) keyGetValue;
    decltype(&Java_com_ulvex_kesp_tavik_common_win32_Registry_keySetValue) keySetValue;
};

// A key path below HKEY_CURRENT_USER\Software that no other test or process uses; the tree is
// removed when the holder goes.
class ScratchKey {
public:
    ScratchKey();
    ~ScratchKey();
    ScratchKey(const ScratchKey&) = delete;
    ScratchKey& operator=(const ScratchKey&) = delete;

    const std::string& path() const { return path_; }
    std::string child(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

// Direct registry access below HKEY_CURRENT_USER, not through the library. Paths and names
// given as UTF-8 reach the W functions as their UTF-16 units, as another program names them.
std::wstring wide(const std::string& utf8);
struct RawValue {
    bool found;
    DWORD type;
    std::vector<std::uint8_t> bytes;
};
void rawCreateKey(const std::string& path);
bool rawKeyExists(const std::string& path);
void rawSetValue(const std::string& path, const char* name, DWORD type,
                 const std::vector<std::uint8_t>& bytes);
// Creates the key as well; text data are UTF-16 bytes.
void rawSetValueW(const std::string& path, const std::string& name, DWORD type,
                  const std::vector<std::uint8_t>& bytes);
RawValue rawGetValue(const std::string& path, const char* name);

struct OpenCall {
    HKEY root;
    std::string path;
    DWORD options;
    REGSAM mask;
};
struct CreateCall {
    HKEY root;
    std::string path;
    DWORD reserved;
    bool classIsNull;
    DWORD options;
    REGSAM mask;
    bool securityIsNull;
    bool dispositionAsked;
};
struct DeleteKeyCall {
    HKEY root;
    std::string path;
};
struct BroadcastCall {
    HWND window;
    UINT message;
    WPARAM wParam;
    std::string text;
    UINT flags;
    UINT timeout;
    bool resultIsNull;
};
struct SetValueCall {
    std::string name;
    DWORD type;
    std::vector<std::uint8_t> data;
};

// What the interception saw and what it makes the next calls answer. One at a time: the hooks
// patch the library's import table for the whole process.
struct Interception {
    explicit Interception(HMODULE library);
    ~Interception();

    // Counts, safe to read from any thread.
    std::atomic<int> keysOpened{0};  // successful RegOpenKeyExA/W and RegCreateKeyExA
    std::atomic<int> keysClosed{0};
    std::atomic<int> blocksAllocated{0};
    std::atomic<int> blocksFreed{0};
    std::atomic<int> allocationCalls{0};  // HeapAlloc calls, failed ones included
    std::atomic<int> expansions{0};
    std::vector<std::pair<DWORD, DWORD>> expansionCalls;  // size offered and answer, in order
    std::atomic<int> registryCalls{0};  // every registry and shell call of the library

    // Recorded arguments (under `lock`), while `recording` is set.
    std::atomic<bool> recording{true};
    std::mutex lock;
    std::vector<OpenCall> opens;
    std::vector<CreateCall> creates;
    std::vector<DeleteKeyCall> keyDeletions;
    std::vector<BroadcastCall> broadcasts;
    std::vector<SetValueCall> writes;
    // RegQueryValueExA/W calls: the name, then which of type, data and size were asked for.
    std::vector<std::string> valueQueries;

    // While a host is followed, the library's registry and broadcast calls are noted with the
    // number of JNI calls the host had seen by then (from the test's own thread only).
    void follow(const jnitest::JniHost& host);
    // The followed host's JNI calls and the Windows calls, interleaved in the order made; ends
    // the following, so that no call is noted against a host that has gone.
    std::vector<std::string> takeTimeline();
    const jnitest::JniHost* followed = nullptr;
    std::vector<std::pair<size_t, std::string>> windowsCalls;

    // Scripted answers: 0 means "let Windows answer".
    LSTATUS openStatus = 0;
    LSTATUS createStatus = 0;
    LSTATUS queryInfoStatus = 0;
    LSTATUS dataQueryStatus = 0;  // RegQueryValueExA/W calls that fetch data
    LSTATUS setValueStatus = 0;
    int failExpansionCall = 0;   // the nth ExpandEnvironmentStringsW returns 0
    int failAllocationCall = 0;  // the nth HeapAlloc returns null
    // Runs inside RegSetValueExA before the value is written, as Java code on another thread.
    std::function<void()> whileWriting;
    // Run with the size offered before each data query and each expansion, where a test makes
    // the value or the environment grow.
    std::function<void(DWORD)> beforeDataQuery;
    std::function<void(DWORD)> beforeExpansion;
    // Broadcasts are recorded, and reach the windows of the test desktop only when asked: a
    // window of another test program that is slow to answer would hold each one up.
    bool sendBroadcasts = false;

    std::vector<std::unique_ptr<jnitest::ImportHook>> hooks;
};

// The one interception in force, for the replacement functions.
Interception& interception();

// Each test: the library, its interception, a strict JNI host and a scratch key. At the end
// every key the library opened must be closed and every heap block freed.
class RegistryTest : public ::testing::Test {
protected:
    RegistryTest();
    void TearDown() override;

    void expectRaised(const std::string& message);
    void expectNothingRaised();

    jnitest::Library library;
    Exports registry{library};
    Interception hooks{library.handle()};
    jnitest::JniHost host;
    ScratchKey scratch;
};

}  // namespace regtest

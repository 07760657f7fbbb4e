#include "registry_support.h"

#include <shlwapi.h>

#include <cstring>

namespace regtest {

namespace {

constexpr char exportPrefix[] = "Java_com_ulvex_kesp_tavik_common_win32_Registry_";

template <typename Function>
Function* exportNamed(const jnitest::Library& library, const char* method) {
    return library.get<Function>((std::string(exportPrefix) + method).c_str());
}

Interception* current = nullptr;

template <typename Function>
Function* original(size_t index) {
    return current->hooks[index]->original<Function>();
}

enum Hooked : size_t {
    openKey,
    createKey,
    closeKey,
    queryInfo,
    queryValue,
    setValue,
    deleteValue,
    deleteKey,
    sendMessage,
    heapAlloc,
    heapFree,
    expand,
    openKeyW,
    queryValueW,
};

// The tests give the W functions ASCII names and texts only.
std::string named(const wchar_t* text) {
    return text != nullptr ? std::string(text, text + lstrlenW(text)) : "<null>";
}

std::string named(const char* text) {
    return text != nullptr ? text : "<null>";
}

void note(Interception& state, const char* call) {
    if (state.followed != nullptr) {
        std::lock_guard<std::mutex> guard(state.lock);
        state.windowsCalls.emplace_back(state.followed->calls().size(), call);
    }
}

LSTATUS WINAPI openKeyHook(HKEY root, LPCSTR path, DWORD options, REGSAM mask, PHKEY result) {
    Interception& state = *current;
    note(state, "RegOpenKeyExA");
    ++state.registryCalls;
    if (state.recording) {
        std::lock_guard<std::mutex> guard(state.lock);
        state.opens.push_back({root, path != nullptr ? path : "", options, mask});
    }
    if (state.openStatus != 0) {
        return state.openStatus;
    }
    LSTATUS status = original<decltype(RegOpenKeyExA)>(openKey)(root, path, options, mask, result);
    if (status == ERROR_SUCCESS) {
        ++state.keysOpened;
    }
    return status;
}

// Keys the second lookup opens by their UTF-16 names.
LSTATUS WINAPI openKeyWHook(HKEY root, LPCWSTR path, DWORD options, REGSAM mask, PHKEY result) {
    note(*current, "RegOpenKeyExW");
    LSTATUS status = original<decltype(RegOpenKeyExW)>(openKeyW)(root, path, options, mask, result);
    current->keysOpened += status == ERROR_SUCCESS;
    return status;
}

LSTATUS WINAPI createKeyHook(HKEY root, LPCSTR path, DWORD reserved, LPSTR keyClass, DWORD options,
                             REGSAM mask, LPSECURITY_ATTRIBUTES security, PHKEY result,
                             LPDWORD disposition) {
    Interception& state = *current;
    note(state, "RegCreateKeyExA");
    ++state.registryCalls;
    if (state.recording) {
        std::lock_guard<std::mutex> guard(state.lock);
        state.creates.push_back({root, path != nullptr ? path : "", reserved, keyClass == nullptr,
                                 options, mask, security == nullptr, disposition != nullptr});
    }
    if (state.createStatus != 0) {
        return state.createStatus;
    }
    LSTATUS status = original<decltype(RegCreateKeyExA)>(createKey)(
        root, path, reserved, keyClass, options, mask, security, result, disposition);
    if (status == ERROR_SUCCESS) {
        ++state.keysOpened;
    }
    return status;
}

LSTATUS WINAPI closeKeyHook(HKEY key) {
    ++current->keysClosed;
    note(*current, "RegCloseKey");
    return original<decltype(RegCloseKey)>(closeKey)(key);
}

LSTATUS WINAPI queryInfoHook(HKEY key, LPSTR keyClass, LPDWORD classSize, LPDWORD reserved,
                             LPDWORD subKeys, LPDWORD subKeyLength, LPDWORD classLength,
                             LPDWORD values, LPDWORD valueNameLength, LPDWORD valueLength,
                             LPDWORD securityLength, PFILETIME written) {
    ++current->registryCalls;
    note(*current, "RegQueryInfoKeyA");
    if (current->queryInfoStatus != 0) {
        return current->queryInfoStatus;
    }
    return original<decltype(RegQueryInfoKeyA)>(queryInfo)(
        key, keyClass, classSize, reserved, subKeys, subKeyLength, classLength, values,
        valueNameLength, valueLength, securityLength, written);
}

// RegQueryValueExA and RegQueryValueExW, told apart by the width of the name.
template <typename Function, Hooked hooked, typename Char>
LSTATUS WINAPI queryValueHook(HKEY key, const Char* name, LPDWORD reserved, LPDWORD type,
                              LPBYTE data, LPDWORD size) {
    Interception& state = *current;
    ++state.registryCalls;
    note(state, hooked == queryValue ? "RegQueryValueExA" : "RegQueryValueExW");
    if (state.recording) {
        std::lock_guard<std::mutex> guard(state.lock);
        state.valueQueries.push_back(named(name) + ":" + (type != nullptr ? " type" : "") +
                                     (data != nullptr ? " data" : "") +
                                     (size != nullptr ? " size" : ""));
    }
    if (data != nullptr && state.beforeDataQuery) {
        state.beforeDataQuery(*size);
    }
    if (data != nullptr && current->dataQueryStatus != 0) {
        return current->dataQueryStatus;
    }
    return original<Function>(hooked)(key, name, reserved, type, data, size);
}

LSTATUS WINAPI setValueHook(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                            DWORD size) {
    Interception& state = *current;
    note(state, "RegSetValueExA");
    ++state.registryCalls;
    if (state.whileWriting) {
        state.whileWriting();
    }
    if (state.recording) {
        std::lock_guard<std::mutex> guard(state.lock);
        state.writes.push_back({name != nullptr ? name : "<null>", type,
                                std::vector<std::uint8_t>(data, data + size)});
    }
    if (state.setValueStatus != 0) {
        return state.setValueStatus;
    }
    return original<decltype(RegSetValueExA)>(setValue)(key, name, reserved, type, data, size);
}

LSTATUS WINAPI deleteValueHook(HKEY key, LPCSTR name) {
    ++current->registryCalls;
    note(*current, "RegDeleteValueA");
    return original<decltype(RegDeleteValueA)>(deleteValue)(key, name);
}

LSTATUS WINAPI deleteKeyHook(HKEY root, LPCSTR path) {
    Interception& state = *current;
    note(state, "SHDeleteKeyA");
    ++state.registryCalls;
    if (state.recording) {
        std::lock_guard<std::mutex> guard(state.lock);
        state.keyDeletions.push_back({root, path != nullptr ? path : ""});
    }
    return original<decltype(SHDeleteKeyA)>(deleteKey)(root, path);
}

LRESULT WINAPI sendMessageHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT flags,
                               UINT timeout, PDWORD_PTR result) {
    Interception& state = *current;
    note(state, "SendMessageTimeoutW");
    if (state.recording) {
        std::lock_guard<std::mutex> guard(state.lock);
        state.broadcasts.push_back({window, message, wParam,
                                    named(reinterpret_cast<const wchar_t*>(lParam)), flags, timeout,
                                    result == nullptr});
    }
    if (!state.sendBroadcasts) {
        return TRUE;
    }
    return original<decltype(SendMessageTimeoutW)>(sendMessage)(window, message, wParam, lParam,
                                                                flags, timeout, result);
}

LPVOID WINAPI heapAllocHook(HANDLE heap, DWORD flags, SIZE_T size) {
    Interception& state = *current;
    if (++state.allocationCalls == state.failAllocationCall) {
        return nullptr;
    }
    LPVOID block = original<decltype(HeapAlloc)>(heapAlloc)(heap, flags, size);
    if (block != nullptr) {
        ++state.blocksAllocated;
        // Fresh blocks hold no zeros, so text read without a terminator of its own shows.
        if ((flags & HEAP_ZERO_MEMORY) == 0) {
            FillMemory(block, size, 0xAB);
        }
    }
    return block;
}

BOOL WINAPI heapFreeHook(HANDLE heap, DWORD flags, LPVOID block) {
    ++current->blocksFreed;
    return original<decltype(HeapFree)>(heapFree)(heap, flags, block);
}

DWORD WINAPI expandHook(LPCWSTR source, LPWSTR destination, DWORD size) {
    Interception& state = *current;
    if (++state.expansions == state.failExpansionCall) {
        return 0;
    }
    if (state.beforeExpansion) {
        state.beforeExpansion(size);
    }
    DWORD answer = original<decltype(ExpandEnvironmentStringsW)>(expand)(source, destination, size);
    state.expansionCalls.emplace_back(size, answer);
    return answer;
}

}  // namespace

Exports::Exports(const jnitest::Library& library)
    : keyCreate(exportNamed<std::remove_pointer_t<decltype(keyCreate)>>(library, "keyCreate")),
      keyDelete(exportNamed<std::remove_pointer_t<decltype(keyDelete)>>(library, "keyDelete")),
      keyExists(exportNamed<std::remove_pointer_t<decltype(keyExists)>>(library, "keyExists")),
      keyHasSubKeys(
          exportNamed<std::remove_pointer_t<decltype(keyHasSubKeys)>>(library, "keyHasSubKeys")),
      keyHasValues(
          exportNamed<std::remove_pointer_t<decltype(keyHasValues)>>(library, "keyHasValues")),
      keyHasValue(
          exportNamed<std::remove_pointer_t<decltype(keyHasValue)>>(library, "keyHasValue")),
      keyGetValueType(exportNamed<std::remove_pointer_t<decltype(keyGetValueType)>>(
          library, "keyGetValueType")),
      keyDeleteValue(
          exportNamed<std::remove_pointer_t<decltype(keyDeleteValue)>>(library, "keyDeleteValue")),
      broadcastUpdate(exportNamed<std::remove_pointer_t<decltype(broadcastUpdate)>>(
          library, "broadcastUpdate")),
      keyGetValue(
          exportNamed<std::remove_pointer_t<decltype(keyGetValue)>>(library, "keyGetValue")),
      keySetValue(
          exportNamed<std::remove_pointer_t<decltype(keySetValue)>>(library, "keySetValue")) {}

ScratchKey::ScratchKey() {
    static std::atomic<int> counter{0};
    path_ = "Software\\UlvexRegistryTest-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(GetTickCount64()) + "-" + std::to_string(++counter);
}

ScratchKey::~ScratchKey() {
    LSTATUS status = RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str());
    EXPECT_TRUE(status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) << status;
    RegDeleteKeyA(HKEY_CURRENT_USER, path_.c_str());
    EXPECT_FALSE(rawKeyExists(path_)) << path_ << " was left behind";
}

void rawCreateKey(const std::string& path) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

std::wstring wide(const std::string& utf8) {
    std::wstring units(utf8.size(), L'\0');
    units.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                     units.data(), static_cast<int>(units.size())));
    return units;
}

bool rawKeyExists(const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, wide(path).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

void rawSetValue(const std::string& path, const char* name, DWORD type,
                 const std::vector<std::uint8_t>& bytes) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    // A spare byte after the data that is not NUL keeps Wine from storing a terminator of its
    // own after text that lacks one.
    std::vector<std::uint8_t> buffer(bytes);
    buffer.push_back(0xEE);
    EXPECT_EQ(RegSetValueExA(key, name, 0, type, buffer.data(), static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

void rawSetValueW(const std::string& path, const std::string& name, DWORD type,
                  const std::vector<std::uint8_t>& bytes) {
    EXPECT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, wide(path).c_str(), wide(name).c_str(), type,
                              bytes.data(), static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
}

RawValue rawGetValue(const std::string& path, const char* name) {
    RawValue value{false, 0, {}};
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return value;
    }
    DWORD size = 0;
    if (RegQueryValueExA(key, name, nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
        value.bytes.resize(size);
        value.found = RegQueryValueExA(key, name, nullptr, &value.type, value.bytes.data(),
                                       &size) == ERROR_SUCCESS;
        value.bytes.resize(size);
    }
    RegCloseKey(key);
    return value;
}

Interception::Interception(HMODULE library) {
    current = this;
    auto hook = [&](const char* dll, const char* function, const void* replacement) {
        hooks.push_back(std::make_unique<jnitest::ImportHook>(library, dll, function, replacement));
    };
    hook("ADVAPI32.dll", "RegOpenKeyExA", reinterpret_cast<const void*>(&openKeyHook));
    hook("ADVAPI32.dll", "RegCreateKeyExA", reinterpret_cast<const void*>(&createKeyHook));
    hook("ADVAPI32.dll", "RegCloseKey", reinterpret_cast<const void*>(&closeKeyHook));
    hook("ADVAPI32.dll", "RegQueryInfoKeyA", reinterpret_cast<const void*>(&queryInfoHook));
    hook("ADVAPI32.dll", "RegQueryValueExA",
         reinterpret_cast<const void*>(
             &queryValueHook<decltype(RegQueryValueExA), queryValue, char>));
    hook("ADVAPI32.dll", "RegSetValueExA", reinterpret_cast<const void*>(&setValueHook));
    hook("ADVAPI32.dll", "RegDeleteValueA", reinterpret_cast<const void*>(&deleteValueHook));
    hook("SHLWAPI.dll", "SHDeleteKeyA", reinterpret_cast<const void*>(&deleteKeyHook));
    hook("USER32.dll", "SendMessageTimeoutW", reinterpret_cast<const void*>(&sendMessageHook));
    hook("KERNEL32.dll", "HeapAlloc", reinterpret_cast<const void*>(&heapAllocHook));
    hook("KERNEL32.dll", "HeapFree", reinterpret_cast<const void*>(&heapFreeHook));
    hook("KERNEL32.dll", "ExpandEnvironmentStringsW", reinterpret_cast<const void*>(&expandHook));
    hook("ADVAPI32.dll", "RegOpenKeyExW", reinterpret_cast<const void*>(&openKeyWHook));
    hook("ADVAPI32.dll", "RegQueryValueExW",
         reinterpret_cast<const void*>(
             &queryValueHook<decltype(RegQueryValueExW), queryValueW, wchar_t>));
}

Interception::~Interception() {
    hooks.clear();
    current = nullptr;
}

void Interception::follow(const jnitest::JniHost& host) {
    std::lock_guard<std::mutex> guard(lock);
    followed = &host;
    windowsCalls.clear();
}

std::vector<std::string> Interception::takeTimeline() {
    std::lock_guard<std::mutex> guard(lock);
    const std::vector<std::string>& jniCalls = followed->calls();
    std::vector<std::string> merged;
    size_t next = 0;
    for (const auto& [position, call] : windowsCalls) {
        for (; next < position; ++next) {
            merged.push_back(jniCalls[next]);
        }
        merged.push_back(call);
    }
    merged.insert(merged.end(), jniCalls.begin() + next, jniCalls.end());
    followed = nullptr;
    return merged;
}

Interception& interception() {
    return *current;
}

RegistryTest::RegistryTest() {
    rawCreateKey(scratch.path());
}

void RegistryTest::TearDown() {
    EXPECT_EQ(hooks.keysOpened.load(), hooks.keysClosed.load()) << "keys opened vs closed";
    EXPECT_EQ(hooks.blocksAllocated.load(), hooks.blocksFreed.load()) << "heap blocks";
}

void RegistryTest::expectRaised(const std::string& message) {
    EXPECT_TRUE(host.exceptionPending());
    EXPECT_EQ(host.exceptionClass(), registryException);
    EXPECT_EQ(host.exceptionMessage(), message);
    EXPECT_EQ(host.exceptionsRaised(), 1);
}

void RegistryTest::expectNothingRaised() {
    EXPECT_FALSE(host.exceptionPending()) << host.exceptionMessage();
    EXPECT_EQ(host.exceptionsRaised(), 0);
}

}  // namespace regtest

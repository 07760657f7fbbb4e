// Pieces shared by the Registry exports: the opened-key holder, the opening sequence every
// key operation begins with, a heap buffer for value data, and the settings-change broadcast.
#pragma once

#include <windows.h>

#include <jni.h>

#include "../jni/heap.h"

namespace ulvex {

constexpr REGSAM readAccess = KEY_READ;       // 0x20019, no WOW64 view bit
constexpr REGSAM allAccess = KEY_ALL_ACCESS;  // 0xF003F, no WOW64 view bit

// A registry key opened or created by the library, closed once with RegCloseKey.
class RegistryKey {
public:
    RegistryKey() = default;
    ~RegistryKey() { close(); }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    HKEY get() const { return key_; }
    // Where an opening call stores the key; call adopt() once the call has succeeded.
    HKEY* receive() { return &pending_; }
    void adopt() { key_ = pending_; }
    // Closes now rather than at scope exit.
    void close();

private:
    HKEY key_ = nullptr;
    HKEY pending_ = nullptr;
};

enum class KeyOpening {
    noPath,  // null path or failed conversion: the operation's early result, nothing raised
    failed,  // RegOpenKeyExA failed: "Error opening registry key" is pending
    opened,
};

// Converts `subKey`, opens it below the Java root with `access`, releases the path and, when
// the open failed, raises "Error opening registry key".
KeyOpening openKey(JNIEnv* env, jint root, jstring subKey, REGSAM access, RegistryKey& key);

// Tells every top-level window that the environment settings in the registry have changed.
void broadcastSettingsChange();

}  // namespace ulvex

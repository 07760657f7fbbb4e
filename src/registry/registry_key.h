// Pieces shared by the Registry exports: the opened-key holder, the opening sequence every
// key operation begins with, the second lookup of existing keys and values by their UTF-16
// names, and the settings-change broadcast.
//
// Key paths and value names reach Windows first as the library has always written them: their
// modified UTF-8 bytes, through the A functions, which read them in the ANSI code page. That is
// the stored form, under which earlier releases made their keys and values.
#pragma once

#include <windows.h>

#include <jni.h>

#include "../jni/boundary.h"

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

// Whether the bytes hold a character beyond ASCII, where the stored form and the name's own
// UTF-16 units differ.
bool holdsNonAscii(const char* bytes);

// A key or value that Windows does not find (ERROR_FILE_NOT_FOUND) by the stored form `stored`
// of `name` is looked up once more by the name's UTF-16 units, as another program made it, when
// the name holds a character beyond ASCII. A name holding U+0000 is not: Windows would read
// a shorter name. `byUtf16` makes the same call with the UTF-16 name; the answer of the last
// call made is returned.
template <typename Call>
LSTATUS onceMoreByUtf16(JNIEnv* env, jstring name, const char* stored, LSTATUS status,
                        Call byUtf16) {
    if (status != ERROR_FILE_NOT_FOUND || !holdsNonAscii(stored)) {
        return status;
    }
    WideString wide(env, name);
    return wide.whole() ? byUtf16(wide.get()) : status;
}

// Opens the existing key `path` (the stored form of `subKey`) below `root`, by its UTF-16 name
// when the stored form is not found.
LSTATUS openExistingKey(JNIEnv* env, HKEY root, jstring subKey, const char* path, REGSAM access,
                        RegistryKey& key);

enum class KeyOpening {
    noPath,  // null path or failed conversion: the operation's early result, nothing raised
    failed,  // the key could not be opened: "Error opening registry key" is pending
    opened,
};

// Which names an opening tries: keys are written only under their stored form.
enum class KeyLookup {
    storedForm,
    storedFormThenUtf16,
};

// Converts `subKey`, opens it below the Java root with `access`, releases the path and, when
// the open failed, raises "Error opening registry key".
KeyOpening openKey(JNIEnv* env, jint root, jstring subKey, REGSAM access, KeyLookup lookup,
                   RegistryKey& key);

// Tells every top-level window that the environment settings in the registry have changed.
void broadcastSettingsChange();

}  // namespace ulvex

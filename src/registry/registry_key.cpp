#include "registry_key.h"

namespace ulvex {

void RegistryKey::close() {
    if (key_ != nullptr) {
        RegCloseKey(key_);
        key_ = nullptr;
    }
}

bool holdsNonAscii(const char* bytes) {
    for (; *bytes != '\0'; ++bytes) {
        if (static_cast<unsigned char>(*bytes) >= 0x80) {
            return true;
        }
    }
    return false;
}

LSTATUS openExistingKey(JNIEnv* env, HKEY root, jstring subKey, const char* path, REGSAM access,
                        RegistryKey& key) {
    LSTATUS status = RegOpenKeyExA(root, path, 0, access, key.receive());
    return onceMoreByUtf16(env, subKey, path, status, [&](const wchar_t* wide) {
        return RegOpenKeyExW(root, wide, 0, access, key.receive());
    });
}

KeyOpening openKey(JNIEnv* env, jint root, jstring subKey, REGSAM access, KeyLookup lookup,
                   RegistryKey& key) {
    ScopedUtfChars path(env, subKey);
    if (path.get() == nullptr) {
        return KeyOpening::noPath;
    }
    LSTATUS status = lookup == KeyLookup::storedForm
                         ? RegOpenKeyExA(keyFromJava(root), path.get(), 0, access, key.receive())
                         : openExistingKey(env, keyFromJava(root), subKey, path.get(), access, key);
    path.release();
    if (status != ERROR_SUCCESS) {
        throwRegistryException(env, "Error opening registry key");
        return KeyOpening::failed;
    }
    key.adopt();
    return KeyOpening::opened;
}

void broadcastSettingsChange() {
    static const wchar_t environment[] = L"Environment";
    SendMessageTimeoutW(HWND_BROADCAST, WM_WININICHANGE, 0, reinterpret_cast<LPARAM>(environment),
                        SMTO_ABORTIFHUNG, 5000, nullptr);
}

}  // namespace ulvex

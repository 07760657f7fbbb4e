#include "registry_key.h"

#include "../jni/boundary.h"

namespace ulvex {

void RegistryKey::close() {
    if (key_ != nullptr) {
        RegCloseKey(key_);
        key_ = nullptr;
    }
}

KeyOpening openKey(JNIEnv* env, jint root, jstring subKey, REGSAM access, RegistryKey& key) {
    ScopedUtfChars path(env, subKey);
    if (path.get() == nullptr) {
        return KeyOpening::noPath;
    }
    LSTATUS status = RegOpenKeyExA(keyFromJava(root), path.get(), 0, access, key.receive());
    path.release();
    if (status != ERROR_SUCCESS) {
        throwRegistryException(env, "Error opening registry key");
        return KeyOpening::failed;
    }
    key.adopt();
    return KeyOpening::opened;
}

void broadcastSettingsChange() {
    static const char environment[] = "Environment";
    SendMessageTimeoutA(HWND_BROADCAST, WM_WININICHANGE, 0, reinterpret_cast<LPARAM>(environment),
                        SMTO_ABORTIFHUNG, 5000, nullptr);
}

}  // namespace ulvex

// Registry keys and presence queries: create, delete, test, count, type, delete a value, and
// the settings-change broadcast on request. Keys are created under the stored form of their
// path; existing keys and values are also found under their UTF-16 names.
#include <com_ulvex_kesp_tavik_common_win32_Registry.h>

#include <shlwapi.h>

#include "../jni/boundary.h"
#include "registry_key.h"

using ulvex::KeyLookup;
using ulvex::KeyOpening;
using ulvex::RegistryKey;
using ulvex::ScopedUtfChars;

JNIEXPORT jint JNICALL Java_com_ulvex_kesp_tavik_common_win32_Registry_keyCreate(JNIEnv* env,
                                                                                 jclass, jint root,
                                                                                 jstring subKey) {
    ScopedUtfChars path(env, subKey);
    if (path.get() == nullptr) {
        return -1;
    }
    RegistryKey key;
    DWORD disposition = 0;
    LSTATUS status = RegCreateKeyExA(ulvex::keyFromJava(root), path.get(), 0, nullptr, 0,
                                     ulvex::allAccess, nullptr, key.receive(), &disposition);
    path.release();
    if (status != ERROR_SUCCESS) {
        return status;
    }
    key.adopt();
    key.close();
    if (disposition == REG_OPENED_EXISTING_KEY) {
        ulvex::throwRegistryException(env, "Attempted to create existing key");
    }
    return 0;
}

namespace {

// An empty path, or one made only of backslashes, names the root itself.
bool namesTheRoot(const char* path) {
    while (*path == '\\') {
        ++path;
    }
    return *path == '\0';
}

}  // namespace

JNIEXPORT jint JNICALL Java_com_ulvex_kesp_tavik_common_win32_Registry_keyDelete(
    JNIEnv* env, jclass, jint root, jstring subKey, jboolean broadcast) {
    ScopedUtfChars path(env, subKey);
    if (path.get() == nullptr) {
        return -1;
    }
    // Deleting the root itself would empty it of every key and value below it.
    HKEY parent = ulvex::keyFromJava(root);
    LSTATUS status =
        namesTheRoot(path.get()) ? ERROR_INVALID_PARAMETER : SHDeleteKeyA(parent, path.get());
    status = ulvex::onceMoreByUtf16(env, subKey, path.get(), status, [&](const wchar_t* wide) {
        return SHDeleteKeyW(parent, wide);
    });
    path.release();
    if (status != ERROR_SUCCESS) {
        ulvex::throwRegistryException(env, "Could not delete registry key");
    }
    if (ulvex::booleanFromJava(broadcast)) {
        ulvex::broadcastSettingsChange();
    }
    return status;
}

JNIEXPORT jboolean JNICALL Java_com_ulvex_kesp_tavik_common_win32_Registry_keyExists(
    JNIEnv* env, jclass, jint root, jstring subKey) {
    ScopedUtfChars path(env, subKey);
    if (path.get() == nullptr) {
        return JNI_FALSE;
    }
    RegistryKey key;
    bool exists = ulvex::openExistingKey(env, ulvex::keyFromJava(root), subKey, path.get(),
                                         ulvex::readAccess, key) == ERROR_SUCCESS;
    if (exists) {
        key.adopt();
        key.close();
    }
    path.release();
    return ulvex::booleanToJava(exists);
}

namespace {

// Whether the key holds any sub-keys (or any values): RegQueryInfoKeyA asks for that one count
// and no class name. A failed count raises `failure` and answers false.
jboolean keyHasEntries(JNIEnv* env, jint root, jstring subKey, bool countSubKeys,
                       const char* failure) {
    RegistryKey key;
    if (ulvex::openKey(env, root, subKey, ulvex::readAccess, KeyLookup::storedFormThenUtf16, key) !=
        KeyOpening::opened) {
        return JNI_FALSE;
    }
    DWORD count = 0;
    DWORD* subKeys = countSubKeys ? &count : nullptr;
    DWORD* values = countSubKeys ? nullptr : &count;
    LSTATUS status = RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, subKeys, nullptr,
                                      nullptr, values, nullptr, nullptr, nullptr, nullptr);
    key.close();
    if (status != ERROR_SUCCESS) {
        ulvex::throwRegistryException(env, failure);
        return JNI_FALSE;
    }
    return ulvex::booleanToJava(count > 0);
}

}  // namespace

JNIEXPORT jboolean JNICALL Java_com_ulvex_kesp_tavik_common_win32_Registry_keyHasSubKeys(
    JNIEnv* env, jclass, jint root, jstring subKey) {
    return keyHasEntries(env, root, subKey, true, "Error counting registry subkeys");
}

JNIEXPORT jboolean JNICALL Java_com_ulvex_kesp_tavik_common_win32_Registry_keyHasValues(
    JNIEnv* env, jclass, jint root, jstring subKey) {
    return keyHasEntries(env, root, subKey, false, "Error counting registry values");
}

JNIEXPORT jboolean JNICALL Java_com_ulvex_kesp_tavik_common_win32_Registry_keyHasValue(
    JNIEnv* env, jclass, jint root, jstring subKey, jstring valueName) {
    RegistryKey key;
    if (valueName == nullptr ||
        ulvex::openKey(env, root, subKey, ulvex::readAccess, KeyLookup::storedFormThenUtf16, key) !=
            KeyOpening::opened) {
        return JNI_FALSE;
    }
    ScopedUtfChars name(env, valueName);
    if (name.get() == nullptr) {
        return JNI_FALSE;
    }
    LSTATUS status = RegQueryValueExA(key.get(), name.get(), nullptr, nullptr, nullptr, nullptr);
    status = ulvex::onceMoreByUtf16(env, valueName, name.get(), status, [&](const wchar_t* wide) {
        return RegQueryValueExW(key.get(), wide, nullptr, nullptr, nullptr, nullptr);
    });
    name.release();
    key.close();
    return ulvex::booleanToJava(status == ERROR_SUCCESS);
}

JNIEXPORT jint JNICALL Java_com_ulvex_kesp_tavik_common_win32_Registry_keyGetValueType(
    JNIEnv* env, jclass, jint root, jstring subKey, jstring valueName) {
    RegistryKey key;
    if (valueName == nullptr) {
        return -1;
    }
    switch (
        ulvex::openKey(env, root, subKey, ulvex::readAccess, KeyLookup::storedFormThenUtf16, key)) {
        case KeyOpening::noPath:
            return -1;
        case KeyOpening::failed:
            return 0;
        case KeyOpening::opened:
            break;
    }
    ScopedUtfChars name(env, valueName);
    if (name.get() == nullptr) {
        return 0;
    }
    DWORD type = 0;
    DWORD size = 0;
    LSTATUS status = RegQueryValueExA(key.get(), name.get(), nullptr, &type, nullptr, &size);
    status = ulvex::onceMoreByUtf16(env, valueName, name.get(), status, [&](const wchar_t* wide) {
        return RegQueryValueExW(key.get(), wide, nullptr, &type, nullptr, &size);
    });
    key.close();
    name.release();
    if (status != ERROR_SUCCESS) {
        ulvex::throwRegistryException(env, "Error retreiving registry value");
        return 0;
    }
    return ulvex::dwordToJava(type);
}

JNIEXPORT void JNICALL Java_com_ulvex_kesp_tavik_common_win32_Registry_keyDeleteValue(
    JNIEnv* env, jclass, jint root, jstring subKey, jstring valueName, jboolean broadcast) {
    RegistryKey key;
    if (valueName == nullptr ||
        ulvex::openKey(env, root, subKey, ulvex::allAccess, KeyLookup::storedFormThenUtf16, key) !=
            KeyOpening::opened) {
        return;
    }
    ScopedUtfChars name(env, valueName);
    if (name.get() == nullptr) {
        return;
    }
    LSTATUS status = RegDeleteValueA(key.get(), name.get());
    status = ulvex::onceMoreByUtf16(env, valueName, name.get(), status, [&](const wchar_t* wide) {
        return RegDeleteValueW(key.get(), wide);
    });
    name.release();
    if (status != ERROR_SUCCESS) {
        ulvex::throwRegistryException(env, "Error deleting registry key value");
    }
    if (ulvex::booleanFromJava(broadcast)) {
        ulvex::broadcastSettingsChange();
    }
}

JNIEXPORT void JNICALL Java_com_ulvex_kesp_tavik_common_win32_Registry_broadcastUpdate(JNIEnv*,
                                                                                       jclass) {
    ulvex::broadcastSettingsChange();
}

// Registry values: reading a value as a Java String, Integer or byte[] by its registry type,
// and writing a Java object as a value of the type the caller names.
#include <com_ulvex_kesp_tavik_common_win32_Registry.h>

#include <cstddef>

#include "../jni/boundary.h"
#include "registry_key.h"

using ulvex::HeapBuffer;
using ulvex::KeyOpening;
using ulvex::RegistryKey;
using ulvex::ScopedUtfChars;

namespace {

const char retrievingFailed[] = "Error retreiving registry value";
const char expandingFailed[] = "Error expanding registry strings";
const char incompatibleValue[] = "Incompatible data types";

jobject failRetrieving(JNIEnv* env, RegistryKey& key, ScopedUtfChars& name) {
    key.close();
    name.release();
    ulvex::throwRegistryException(env, retrievingFailed);
    return nullptr;
}

jobject bytesFromData(JNIEnv* env, const BYTE* data, DWORD size) {
    jbyteArray array = env->NewByteArray(static_cast<jsize>(size));
    if (array == nullptr) {
        return nullptr;
    }
    env->SetByteArrayRegion(array, 0, static_cast<jsize>(size),
                            reinterpret_cast<const jbyte*>(data));
    return array;
}

// The first four bytes, little-endian; bytes missing from shorter data read as 0.
jobject integerFromData(JNIEnv* env, const BYTE* data, DWORD size) {
    jclass integerClass = env->FindClass("java/lang/Integer");
    if (integerClass == nullptr) {
        return nullptr;
    }
    jmethodID constructor = env->GetMethodID(integerClass, "<init>", "(I)V");
    if (constructor == nullptr) {
        return nullptr;
    }
    DWORD number = 0;
    for (DWORD index = 0; index < size && index < 4; ++index) {
        number |= static_cast<DWORD>(data[index]) << (8 * index);
    }
    // The variadic slots themselves: JNIEnv's C++ wrappers would go through NewObjectV.
    return env->functions->NewObject(env, integerClass, constructor, static_cast<jint>(number));
}

jobject expandedString(JNIEnv* env, const char* text) {
    DWORD required = ExpandEnvironmentStringsA(text, nullptr, 0);
    if (required == 0) {
        ulvex::throwRegistryException(env, expandingFailed);
        return nullptr;
    }
    // The ANSI function may need one byte more than it reports.
    DWORD space = required + 1;
    HeapBuffer expanded(space);
    if (expanded.get() == nullptr) {
        ulvex::throwRegistryException(env, retrievingFailed);
        return nullptr;
    }
    DWORD written = ExpandEnvironmentStringsA(text, expanded.text(), space);
    if (written == 0 || written > space) {
        ulvex::throwRegistryException(env, expandingFailed);
        return nullptr;
    }
    return env->NewStringUTF(expanded.text());
}

// `data` holds `size` bytes followed by a NUL.
jobject valueToJava(JNIEnv* env, DWORD type, const HeapBuffer& data, DWORD size) {
    switch (type) {
        case REG_NONE:
        case REG_BINARY:
            return bytesFromData(env, data.get(), size);
        case REG_SZ:
            return env->NewStringUTF(data.text());
        case REG_EXPAND_SZ:
            return expandedString(env, data.text());
        case REG_DWORD:
        case REG_DWORD_BIG_ENDIAN:
            return integerFromData(env, data.get(), size);
        default:
            ulvex::throwRegistryException(env, "Unsupported data type");
            return nullptr;
    }
}

// True when `value` is an instance of `className`. Otherwise raises "Incompatible data types",
// except when the class lookup itself failed and left its own exception pending.
bool valueIsA(JNIEnv* env, jobject value, const char* className) {
    if (value == nullptr) {
        ulvex::throwRegistryException(env, incompatibleValue);
        return false;
    }
    jclass expected = env->FindClass(className);
    if (expected == nullptr) {
        return false;
    }
    if (!env->IsAssignableFrom(env->GetObjectClass(value), expected)) {
        ulvex::throwRegistryException(env, incompatibleValue);
        return false;
    }
    return true;
}

// The array is copied, not pinned: nothing is written back into it, so stores that other Java
// threads make meanwhile are kept.
void writeBytes(JNIEnv* env, HKEY key, const char* name, DWORD type, jobject value) {
    if (!valueIsA(env, value, "[B")) {
        return;
    }
    const char failed[] = "Error setting registry value (REG_NONE/REG_BINARY)";
    auto array = static_cast<jbyteArray>(value);
    jsize length = env->GetArrayLength(array);
    ulvex::StagingBuffer bytes(static_cast<std::size_t>(length));
    if (bytes.get() == nullptr) {
        ulvex::throwRegistryException(env, failed);
        return;
    }
    env->GetByteArrayRegion(array, 0, length, bytes.as<jbyte>());
    if (RegSetValueExA(key, name, 0, type, bytes.get(), static_cast<DWORD>(length)) !=
        ERROR_SUCCESS) {
        ulvex::throwRegistryException(env, failed);
    }
}

void writeText(JNIEnv* env, HKEY key, const char* name, DWORD type, jobject value) {
    if (!valueIsA(env, value, "java/lang/String")) {
        return;
    }
    auto string = static_cast<jstring>(value);
    ScopedUtfChars text(env, string);
    if (text.get() == nullptr) {
        return;
    }
    auto size = static_cast<DWORD>(env->GetStringUTFLength(string)) + 1;
    LSTATUS status =
        RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(text.get()), size);
    if (status != ERROR_SUCCESS) {
        ulvex::throwRegistryExceptionForCode(env, static_cast<DWORD>(status));
    }
}

void writeInteger(JNIEnv* env, HKEY key, const char* name, DWORD type, jobject value) {
    if (!valueIsA(env, value, "java/lang/Integer")) {
        return;
    }
    jmethodID intValue = env->GetMethodID(env->GetObjectClass(value), "intValue", "()I");
    if (intValue == nullptr) {
        return;
    }
    auto number = static_cast<DWORD>(env->functions->CallIntMethod(env, value, intValue));
    const BYTE bytes[4] = {static_cast<BYTE>(number), static_cast<BYTE>(number >> 8),
                           static_cast<BYTE>(number >> 16), static_cast<BYTE>(number >> 24)};
    if (RegSetValueExA(key, name, 0, type, bytes, sizeof bytes) != ERROR_SUCCESS) {
        ulvex::throwRegistryException(
            env, "Error setting registry value (REG_DWORD/REG_DWORD_BIG_ENDIAN)");
    }
}

void writeValue(JNIEnv* env, HKEY key, const char* name, DWORD type, jobject value) {
    switch (type) {
        case REG_NONE:
        case REG_BINARY:
            return writeBytes(env, key, name, type, value);
        case REG_SZ:
        case REG_EXPAND_SZ:
            return writeText(env, key, name, type, value);
        case REG_DWORD:
        case REG_DWORD_BIG_ENDIAN:
            return writeInteger(env, key, name, type, value);
        case REG_MULTI_SZ:
            return ulvex::throwRegistryException(env, "Not implemented");
        default:
            return ulvex::throwRegistryException(env, "Unsupported value type");
    }
}

}  // namespace

JNIEXPORT jobject JNICALL Java_com_ulvex_kesp_tavik_common_win32_Registry_keyGetValue(
    JNIEnv* env, jclass, jint root, jstring subKey, jstring valueName) {
    RegistryKey key;
    if (valueName == nullptr ||
        ulvex::openKey(env, root, subKey, ulvex::readAccess, key) != KeyOpening::opened) {
        return nullptr;
    }
    ScopedUtfChars name(env, valueName);
    if (name.get() == nullptr) {
        return nullptr;
    }
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key.get(), name.get(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
        return failRetrieving(env, key, name);
    }
    // One byte beyond the data, never offered to the registry, ends text that was stored
    // without a terminator of its own.
    HeapBuffer data(std::size_t{size} + 1);
    if (data.get() == nullptr) {
        return failRetrieving(env, key, name);
    }
    if (RegQueryValueExA(key.get(), name.get(), nullptr, &type, data.get(), &size) !=
        ERROR_SUCCESS) {
        data.release();
        return failRetrieving(env, key, name);
    }
    key.close();
    name.release();
    data.get()[size] = 0;
    return valueToJava(env, type, data, size);
}

JNIEXPORT void JNICALL Java_com_ulvex_kesp_tavik_common_win32_Registry_keySetValue(
    JNIEnv* env, jclass, jint root, jstring subKey, jstring valueName, jint type, jobject value,
    jboolean broadcast) {
    RegistryKey key;
    if (valueName == nullptr ||
        ulvex::openKey(env, root, subKey, ulvex::allAccess, key) != KeyOpening::opened) {
        return;
    }
    ScopedUtfChars name(env, valueName);
    if (name.get() == nullptr) {
        return;
    }
    writeValue(env, key.get(), name.get(), ulvex::dwordFromJava(type), value);
    name.release();
    if (ulvex::booleanFromJava(broadcast)) {
        ulvex::broadcastSettingsChange();
    }
}

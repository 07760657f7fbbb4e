// Registry values: reading a value as a Java String, Integer or byte[] by its registry type,
// and writing a Java object as a value of the type the caller names. Values are read as UTF-16
// and written as the library has always written them (stored_text.h).
#include <com_ulvex_kesp_tavik_common_win32_Registry.h>

#include <cstddef>

#include "registry_key.h"
#include "stored_text.h"

using ulvex::HeapBuffer;
using ulvex::KeyLookup;
using ulvex::KeyOpening;
using ulvex::RegistryKey;
using ulvex::ScopedUtfChars;

namespace {

const char retrievingFailed[] = "Error retreiving registry value";
const char expandingFailed[] = "Error expanding registry strings";
const char incompatibleValue[] = "Incompatible data types";

// A value of up to this many bytes, text of up to 1024 UTF-16 units, is read by a single query
// into a buffer on the stack. Windows advises keeping values over 2048 bytes in files, so this
// takes the values clients read (paths, flags, versions). It is a small part of the 7 pages
// (28 KiB) that the Java virtual machine keeps free on a 64-bit Windows thread's stack for
// native code, and the frame stays below one page, so it needs no stack probe.
constexpr DWORD stackDataSize = 2048;
// The heap blocks, each of the size Windows last reported, that a value too large for the
// stack buffer, or an expansion, is tried in. A value rewritten larger between two calls made
// back to back is rare; one that outgrows three of them in a row is being rewritten without
// pause, or the answers are inconsistent: the call fails, and the caller may call again.
constexpr int sizedTries = 3;

jobject failRetrieving(JNIEnv* env, RegistryKey& key, ScopedUtfChars& name) {
    key.close();
    name.release();
    ulvex::throwRegistryException(env, retrievingFailed);
    return nullptr;
}

// A value's data as one query delivered it, of the type that query reported: in the stack
// buffer or, when it did not fit there, in a heap block. Two NUL bytes that the registry never
// sees follow the data, and end text stored without a terminator.
struct ValueData {
    alignas(wchar_t) BYTE stack[stackDataSize + 2];
    HeapBuffer heap;
    BYTE* bytes = nullptr;
    DWORD type = 0;
    DWORD size = 0;
};

// Reads the value into the stack buffer or, when it does not fit there, into a heap block sized
// by what the registry reports and fetched again while the value keeps growing. Text arrives as
// UTF-16. Not ERROR_SUCCESS when a query failed, the value did not stop growing or no heap block
// could be had.
LSTATUS readValue(HKEY key, const wchar_t* name, ValueData& data) {
    data.bytes = data.stack;
    DWORD offered = stackDataSize;
    data.size = offered;
    LSTATUS status = RegQueryValueExW(key, name, nullptr, &data.type, data.bytes, &data.size);
    for (int tries = 0; status == ERROR_MORE_DATA && data.size > offered && tries < sizedTries;
         ++tries) {
        offered = data.size;
        if (!data.heap.allocate(std::size_t{offered} + 2)) {
            return ERROR_NOT_ENOUGH_MEMORY;
        }
        data.bytes = data.heap.get();
        status = RegQueryValueExW(key, name, nullptr, &data.type, data.bytes, &data.size);
    }
    if (status == ERROR_SUCCESS) {
        data.bytes[data.size] = 0;
        data.bytes[data.size + 1] = 0;
    }
    return status;
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

// Expands again while the environment grows between the size asked and the expansion. The
// sizes Windows reports count UTF-16 units and the terminating NUL.
jobject expandedString(JNIEnv* env, const wchar_t* text) {
    HeapBuffer expanded;
    DWORD required = ExpandEnvironmentStringsW(text, nullptr, 0);
    for (int tries = 0; required != 0 && tries < sizedTries; ++tries) {
        DWORD space = required;
        if (!expanded.allocate(std::size_t{space} * sizeof(wchar_t))) {
            ulvex::throwRegistryException(env, retrievingFailed);
            return nullptr;
        }
        required = ExpandEnvironmentStringsW(text, expanded.as<wchar_t>(), space);
        if (required != 0 && required <= space) {
            return ulvex::newJavaString(env, expanded.as<wchar_t>(), required - 1);
        }
    }
    ulvex::throwRegistryException(env, expandingFailed);
    return nullptr;
}

// Text up to its first NUL: the Java string the library stored, where it is in the stored form,
// else the UTF-16 text as the registry holds it; REG_EXPAND_SZ text is then expanded.
jobject textToJava(JNIEnv* env, ValueData& data) {
    auto* text = reinterpret_cast<wchar_t*>(data.bytes);
    DWORD units = data.size / sizeof(wchar_t);
    DWORD length = 0;
    while (length < units && text[length] != L'\0') {
        ++length;
    }
    text[length] = L'\0';
    int shown = ulvex::fromStoredForm(text, static_cast<int>(length));
    if (shown < 0) {
        ulvex::throwRegistryException(env, retrievingFailed);
        return nullptr;
    }
    if (data.type == REG_EXPAND_SZ) {
        return expandedString(env, text);
    }
    return ulvex::newJavaString(env, text, static_cast<DWORD>(shown));
}

jobject valueToJava(JNIEnv* env, ValueData& data) {
    switch (data.type) {
        case REG_NONE:
        case REG_BINARY:
            return bytesFromData(env, data.bytes, data.size);
        case REG_SZ:
        case REG_EXPAND_SZ:
            return textToJava(env, data);
        case REG_DWORD:
        case REG_DWORD_BIG_ENDIAN:
            return integerFromData(env, data.bytes, data.size);
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
    // A Java method may leave an exception: the virtual machine takes no other call before the
    // check (-Xcheck:jni reports one), and nothing is written.
    if (env->ExceptionCheck()) {
        return;
    }
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
        ulvex::openKey(env, root, subKey, ulvex::readAccess, KeyLookup::storedFormThenUtf16, key) !=
            KeyOpening::opened) {
        return nullptr;
    }
    ScopedUtfChars name(env, valueName);
    if (name.get() == nullptr) {
        return nullptr;
    }
    ulvex::StoredName stored(name.get());
    ValueData data;
    LSTATUS status = stored.get() != nullptr ? readValue(key.get(), stored.get(), data)
                                             : ERROR_NOT_ENOUGH_MEMORY;
    status = ulvex::onceMoreByUtf16(env, valueName, name.get(), status, [&](const wchar_t* wide) {
        return readValue(key.get(), wide, data);
    });
    if (status != ERROR_SUCCESS) {
        data.heap.release();
        return failRetrieving(env, key, name);
    }
    key.close();
    name.release();
    return valueToJava(env, data);
}

JNIEXPORT void JNICALL Java_com_ulvex_kesp_tavik_common_win32_Registry_keySetValue(
    JNIEnv* env, jclass, jint root, jstring subKey, jstring valueName, jint type, jobject value,
    jboolean broadcast) {
    RegistryKey key;
    if (valueName == nullptr || ulvex::openKey(env, root, subKey, ulvex::allAccess,
                                               KeyLookup::storedForm, key) != KeyOpening::opened) {
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

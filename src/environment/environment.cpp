// Environment.getEnvironmentVariable: one variable of the process environment.
#include <com_ulvex_kesp_tavik_common_win32_Environment.h>

#include "../jni/boundary.h"
#include "../jni/heap.h"

namespace {

constexpr DWORD stackBufferSize = 4096;
// The heap blocks, each of the size Windows last reported, that a value too large for the stack
// buffer is tried in. One that outgrows three of them in a row is being rewritten without pause.
constexpr int sizedTries = 3;

// Fetches a value that did not fit the stack buffer into `value`, a heap buffer of the size
// Windows reports, again while the value grows, at most sizedTries times. False when the
// variable vanished meanwhile, kept growing, the allocation failed or Windows answered
// inconsistently.
bool fetchLongValue(const char* name, DWORD required, ulvex::HeapBuffer& value) {
    for (int tries = 0; tries < sizedTries && required > 0 && value.allocate(required); ++tries) {
        DWORD count = GetEnvironmentVariableA(name, value.text(), required);
        if (count <= required) {
            return count > 0 && count < required;
        }
        required = count;
    }
    return false;
}

}  // namespace

JNIEXPORT jstring JNICALL Java_com_ulvex_kesp_tavik_common_win32_Environment_getEnvironmentVariable(
    JNIEnv* env, jclass, jstring name) {
    ulvex::ScopedUtfChars converted(env, name);
    if (converted.get() == nullptr) {
        return nullptr;
    }
    char buffer[stackBufferSize];
    DWORD count = GetEnvironmentVariableA(converted.get(), buffer, stackBufferSize);
    if (count < stackBufferSize) {
        converted.release();
        return count > 0 ? env->NewStringUTF(buffer) : nullptr;
    }
    ulvex::HeapBuffer longValue;
    bool fetched = fetchLongValue(converted.get(), count, longValue);
    converted.release();
    return fetched ? env->NewStringUTF(longValue.text()) : nullptr;
}

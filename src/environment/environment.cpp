// Environment.getEnvironmentVariable: one variable of the process environment, read as UTF-16.
#include <com_ulvex_kesp_tavik_common_win32_Environment.h>

#include "../jni/boundary.h"
#include "../jni/heap.h"

namespace {

// Units, the terminating NUL included.
constexpr DWORD stackBufferSize = 4096;
// The heap blocks, each of the size Windows last reported, that a value too large for the stack
// buffer is tried in. One that outgrows three of them in a row is being rewritten without pause.
constexpr int sizedTries = 3;

// Fetches a value that did not fit the stack buffer into `value`, a heap buffer of the size
// Windows reports, again while the value grows, at most sizedTries times. The value's length in
// units, or 0 when the variable vanished meanwhile, kept growing, the allocation failed or
// Windows answered inconsistently.
DWORD fetchLongValue(const wchar_t* name, DWORD required, ulvex::HeapBuffer& value) {
    for (int tries = 0; tries < sizedTries && required > 0 &&
                        value.allocate(static_cast<std::size_t>(required) * sizeof(wchar_t));
         ++tries) {
        DWORD count = GetEnvironmentVariableW(name, value.as<wchar_t>(), required);
        if (count <= required) {
            return count < required ? count : 0;
        }
        required = count;
    }
    return 0;
}

}  // namespace

JNIEXPORT jstring JNICALL Java_com_ulvex_kesp_tavik_common_win32_Environment_getEnvironmentVariable(
    JNIEnv* env, jclass, jstring name) {
    ulvex::WideString converted(env, name);
    if (!converted.whole()) {
        return nullptr;
    }
    wchar_t buffer[stackBufferSize];
    DWORD count = GetEnvironmentVariableW(converted.get(), buffer, stackBufferSize);
    if (count < stackBufferSize) {
        return count > 0 ? ulvex::newJavaString(env, buffer, count) : nullptr;
    }
    ulvex::HeapBuffer longValue;
    DWORD length = fetchLongValue(converted.get(), count, longValue);
    return length > 0 ? ulvex::newJavaString(env, longValue.as<wchar_t>(), length) : nullptr;
}

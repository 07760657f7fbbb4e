// Environment.getEnvironmentVariable: one variable of the process environment.
#include <com_ulvex_kesp_tavik_common_win32_Environment.h>

#include <memory>
#include <utility>

#include "../jni/boundary.h"

namespace {

constexpr DWORD stackBufferSize = 4096;

// Fetches a value that did not fit the stack buffer into a heap buffer of the size Windows
// reports, again while the value keeps growing. Empty when the variable vanished meanwhile, the
// allocation failed or Windows answered inconsistently.
std::unique_ptr<char[]> fetchLongValue(const char* name, DWORD required) {
    while (required > 0) {
        std::unique_ptr<char[]> buffer(new (std::nothrow) char[required]);
        if (!buffer) {
            return nullptr;
        }
        DWORD count = GetEnvironmentVariableA(name, buffer.get(), required);
        if (count <= required) {
            return count > 0 && count < required ? std::move(buffer) : nullptr;
        }
        required = count;
    }
    return nullptr;
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
    std::unique_ptr<char[]> longValue = fetchLongValue(converted.get(), count);
    converted.release();
    return longValue ? env->NewStringUTF(longValue.get()) : nullptr;
}

// WinPipe: both ends of message-mode named pipes and synchronous transfers over them.
//
// Handles cross as Java ints (sign-extended in, low 32 bits out). Converted pipe names live in a
// guarded scope, so they are released also when a structured exception leaves the export.
// read and write refuse a buffer they cannot use safely before any Windows call: no array, a
// count outside 0..length, or elements the virtual machine cannot provide.
#include <com_ulvex_kesp_tavik_common_communication_win32_WinPipe.h>

#include "../jni/boundary.h"
#include "../jni/guarded.h"

namespace {

constexpr DWORD messagePipeMode = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT;
constexpr DWORD messageReadMode = PIPE_READMODE_MESSAGE;
constexpr DWORD noSharing = 0;
constexpr jint noHandle = -1;
constexpr jint readFailed = -1;
constexpr jint writeFailed = 0;

// The first `count` elements of `buffer` exist: a transfer of `count` bytes stays inside it.
bool transferFits(JNIEnv* env, jbyteArray buffer, jint count) {
    return buffer != nullptr && count >= 0 && count <= env->GetArrayLength(buffer);
}

}  // namespace

JNIEXPORT jint JNICALL Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_createNamedPipe(
    JNIEnv* env, jclass, jstring pipeName, jint openMode, jint maxInstances, jint outBufferSize,
    jint inBufferSize, jint defaultTimeout) {
    jint result = noHandle;
    ulvex::runGuarded([&] {
        ulvex::GuardedStrings name(env, {pipeName});
        if (!name.complete()) {
            return;
        }
        HANDLE pipe = CreateNamedPipeA(
            name[0], ulvex::dwordFromJava(openMode), messagePipeMode,
            ulvex::dwordFromJava(maxInstances), ulvex::dwordFromJava(outBufferSize),
            ulvex::dwordFromJava(inBufferSize), ulvex::dwordFromJava(defaultTimeout), nullptr);
        result = ulvex::handleToJava(pipe);
    });
    return result;
}

JNIEXPORT jint JNICALL
Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_connectNamedPipe(JNIEnv*, jclass,
                                                                              jint pipe) {
    if (ConnectNamedPipe(ulvex::handleFromJava(pipe), nullptr)) {
        return 1;
    }
    return GetLastError() == ERROR_PIPE_CONNECTED ? 1 : 0;
}

JNIEXPORT jboolean JNICALL Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_waitForPipe(
    JNIEnv* env, jclass, jstring pipeName, jint timeout) {
    jboolean result = JNI_FALSE;
    ulvex::runGuarded([&] {
        ulvex::GuardedStrings name(env, {pipeName});
        if (!name.complete()) {
            return;
        }
        result = ulvex::windowsBoolToJava(WaitNamedPipeA(name[0], ulvex::dwordFromJava(timeout)));
    });
    return result;
}

JNIEXPORT jint JNICALL Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_createFile(
    JNIEnv* env, jclass, jstring pipeName, jint desiredAccess) {
    jint result = noHandle;
    ulvex::runGuarded([&] {
        ulvex::GuardedStrings name(env, {pipeName});
        if (!name.complete()) {
            return;
        }
        HANDLE file = CreateFileA(name[0], ulvex::dwordFromJava(desiredAccess), noSharing, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        result = ulvex::handleToJava(file);
        if (result >= 0) {
            DWORD mode = messageReadMode;
            SetNamedPipeHandleState(ulvex::handleFromJava(result), &mode, nullptr, nullptr);
        }
    });
    return result;
}

JNIEXPORT jint JNICALL Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_read(
    JNIEnv* env, jclass, jint handle, jbyteArray buffer, jint count) {
    if (!transferFits(env, buffer, count)) {
        return readFailed;
    }
    DWORD bytesRead = 0;
    BOOL succeeded = FALSE;
    {
        ulvex::ScopedByteArrayElements elements(env, buffer);
        if (elements.get() == nullptr) {
            return readFailed;
        }
        succeeded = ReadFile(ulvex::handleFromJava(handle), elements.get(),
                             ulvex::dwordFromJava(count), &bytesRead, nullptr);
        if (!succeeded && GetLastError() == ERROR_MORE_DATA) {
            succeeded = TRUE;
        }
    }
    jint delivered = static_cast<jint>(bytesRead) < count ? static_cast<jint>(bytesRead) : count;
    return succeeded ? delivered : readFailed;
}

JNIEXPORT jint JNICALL Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_write(
    JNIEnv* env, jclass, jint handle, jbyteArray buffer, jint count) {
    if (!transferFits(env, buffer, count)) {
        return writeFailed;
    }
    ulvex::ScopedByteArrayElements elements(env, buffer);
    if (elements.get() == nullptr) {
        return writeFailed;
    }
    DWORD bytesWritten = 0;
    if (!WriteFile(ulvex::handleFromJava(handle), elements.get(), ulvex::dwordFromJava(count),
                   &bytesWritten, nullptr)) {
        return writeFailed;
    }
    return ulvex::dwordToJava(bytesWritten);
}

JNIEXPORT jint JNICALL
Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_flushFileBuffers(JNIEnv*, jclass,
                                                                              jint handle) {
    return FlushFileBuffers(ulvex::handleFromJava(handle));
}

JNIEXPORT jint JNICALL Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_disconnect(
    JNIEnv*, jclass, jint pipe) {
    return DisconnectNamedPipe(ulvex::handleFromJava(pipe));
}

JNIEXPORT jint JNICALL Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_closeHandle(
    JNIEnv*, jclass, jint handle) {
    return CloseHandle(ulvex::handleFromJava(handle));
}

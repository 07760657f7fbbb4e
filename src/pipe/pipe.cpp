// WinPipe: both ends of message-mode named pipes and synchronous transfers over them.
//
// Handles cross as Java ints (sign-extended in, low 32 bits out). Pipe names cross as UTF-16,
// copied into a holder of the call's own that a guarded scope releases also when a structured
// exception leaves the export; none stays pinned while Windows waits for the pipe. A name
// holding U+0000 would name another pipe, and is refused like a name that cannot be converted.
// read and write move exactly the bytes transferred between the Java array and a buffer of
// their own, never the rest of the array: a write copies `count` bytes out, a read copies the
// bytes it delivers in. No array is pinned, since ReadFile and WriteFile may block for as long
// as the other end likes. Before any Windows call they refuse a buffer they cannot use safely:
// no array, a count outside 0..length, or a transfer buffer that cannot be had.
#include <com_ulvex_kesp_tavik_common_communication_win32_WinPipe.h>

#include "../jni/boundary.h"
#include "../jni/heap.h"

namespace {

constexpr DWORD messagePipeMode = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT;
constexpr DWORD messageReadMode = PIPE_READMODE_MESSAGE;
constexpr DWORD noSharing = 0;
// Transfers pass no OVERLAPPED structure, so every handle the family makes is synchronous.
constexpr DWORD synchronousOnly = FILE_FLAG_OVERLAPPED;
// Setting a client end's read mode needs FILE_WRITE_ATTRIBUTES; these rights include it.
constexpr DWORD modeChangeRights =
    FILE_WRITE_ATTRIBUTES | GENERIC_WRITE | GENERIC_ALL | MAXIMUM_ALLOWED;
constexpr jint noHandle = -1;
constexpr jint readFailed = -1;
constexpr jint writeFailed = 0;

// The first `count` elements of `buffer` exist: a transfer of `count` bytes stays inside it.
bool transferFits(JNIEnv* env, jbyteArray buffer, jint count) {
    return buffer != nullptr && count >= 0 && count <= env->GetArrayLength(buffer);
}

HANDLE openExisting(const wchar_t* name, DWORD access) {
    return CreateFileW(name, access, noSharing, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

// Opens with the right to set the read mode as well when `access` lacks it, and with `access`
// alone when the pipe refuses that right.
HANDLE openClientEnd(const wchar_t* name, DWORD access) {
    if ((access & modeChangeRights) != 0) {
        return openExisting(name, access);
    }
    HANDLE file = openExisting(name, access | FILE_WRITE_ATTRIBUTES);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
        return openExisting(name, access);
    }
    return file;
}

}  // namespace

JNIEXPORT jint JNICALL Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_createNamedPipe(
    JNIEnv* env, jclass, jstring pipeName, jint openMode, jint maxInstances, jint outBufferSize,
    jint inBufferSize, jint defaultTimeout) {
    jint result = noHandle;
    ulvex::runGuarded([&] {
        ulvex::WideString name(env, pipeName);
        if (!name.whole()) {
            return;
        }
        HANDLE pipe = CreateNamedPipeW(
            name.get(), ulvex::dwordFromJava(openMode) & ~synchronousOnly, messagePipeMode,
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
        ulvex::WideString name(env, pipeName);
        if (!name.whole()) {
            return;
        }
        result =
            ulvex::windowsBoolToJava(WaitNamedPipeW(name.get(), ulvex::dwordFromJava(timeout)));
    });
    return result;
}

JNIEXPORT jint JNICALL Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_createFile(
    JNIEnv* env, jclass, jstring pipeName, jint desiredAccess) {
    jint result = noHandle;
    ulvex::runGuarded([&] {
        ulvex::WideString name(env, pipeName);
        if (!name.whole()) {
            return;
        }
        result =
            ulvex::handleToJava(openClientEnd(name.get(), ulvex::dwordFromJava(desiredAccess)));
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
    ulvex::StagingBuffer bytes(static_cast<std::size_t>(count));
    if (bytes.get() == nullptr) {
        return readFailed;
    }
    DWORD bytesRead = 0;
    if (!ReadFile(ulvex::handleFromJava(handle), bytes.get(), ulvex::dwordFromJava(count),
                  &bytesRead, nullptr) &&
        GetLastError() != ERROR_MORE_DATA) {
        return readFailed;
    }
    jint delivered = static_cast<jint>(bytesRead) < count ? static_cast<jint>(bytesRead) : count;
    if (delivered > 0) {
        env->SetByteArrayRegion(buffer, 0, delivered, bytes.as<jbyte>());
    }
    return delivered;
}

JNIEXPORT jint JNICALL Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_write(
    JNIEnv* env, jclass, jint handle, jbyteArray buffer, jint count) {
    if (!transferFits(env, buffer, count)) {
        return writeFailed;
    }
    ulvex::StagingBuffer bytes(static_cast<std::size_t>(count));
    if (bytes.get() == nullptr) {
        return writeFailed;
    }
    env->GetByteArrayRegion(buffer, 0, count, bytes.as<jbyte>());
    DWORD bytesWritten = 0;
    if (!WriteFile(ulvex::handleFromJava(handle), bytes.get(), ulvex::dwordFromJava(count),
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

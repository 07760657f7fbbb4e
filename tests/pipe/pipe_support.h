// Shared pieces of the pipe tests: the nine exports, fresh pipe names, byte helpers and an
// owner for the handles a test opens.
#pragma once

#include <windows.h>

#include <com_ulvex_kesp_tavik_common_communication_win32_WinPipe.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "jni_host.h"
#include "library.h"

namespace pipetest {

using Bytes = std::vector<std::uint8_t>;

constexpr jint duplexAccess = PIPE_ACCESS_DUPLEX;
constexpr jint readWriteAccess = static_cast<jint>(GENERIC_READ | GENERIC_WRITE);
constexpr jint bufferSize = 4096;

// The WinPipe exports of the loaded library.
struct WinPipe {
    explicit WinPipe(const jnitest::Library& library);

    decltype(&Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_createNamedPipe)
        createNamedPipe;
    decltype(&Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_connectNamedPipe)
        connectNamedPipe;
    decltype(&Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_waitForPipe) waitForPipe;
    decltype(&Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_createFile) createFile;
    decltype(&Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_read) read;
    decltype(&Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_write) write;
    decltype(&Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_flushFileBuffers)
        flushFileBuffers;
    decltype(&Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_disconnect) disconnect;
    decltype(&Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_closeHandle) closeHandle;
};

// "\\.\pipe\ulvex-test-<process id>-<purpose>-<serial>", new at every call.
std::string uniquePipeName(std::string_view purpose);

Bytes bytesOf(std::string_view text);
std::string textOf(const Bytes& bytes);
// `length` bytes of a recognisable pattern that starts at `seed`.
Bytes pattern(std::size_t length, std::uint8_t seed);

// The handle a Java int stands for, as the library widens it.
inline HANDLE widened(jint handle) {
    return reinterpret_cast<HANDLE>(static_cast<INT_PTR>(handle));
}

// Closes a handle the test got from the library when the test leaves its scope, unless the
// test gives it up with release().
class OwnedHandle {
public:
    explicit OwnedHandle(jint handle = -1) : handle_(handle) {}
    ~OwnedHandle();
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;

    jint get() const { return handle_; }
    // Gives the handle up without closing it (the test closes it through the library).
    jint release();
    // Closes the handle held, then holds `handle`.
    void reset(jint handle);

private:
    jint handle_;
};

// The outcome of one read through the library into a fresh array of `capacity` bytes.
struct ReadOutcome {
    jint result;
    Bytes bytes;  // the whole array afterwards
    bool guardIntact;
};

// Calls read and write on a host of the calling thread.
class Transfer {
public:
    Transfer(jnitest::JniHost& host, const WinPipe& pipe) : host_(host), pipe_(pipe) {}

    jint write(jint handle, const Bytes& message);
    ReadOutcome read(jint handle, jint capacity, jint count, std::uint8_t fill = 0xEE);
    ReadOutcome read(jint handle, jint count) { return read(handle, count, count); }

private:
    jnitest::JniHost& host_;
    const WinPipe& pipe_;
};

// A server end made by createNamedPipe with a client end opened by createFile and connected.
struct ConnectedPipe {
    std::string name;
    OwnedHandle server;
    OwnedHandle client;
};

// Makes and connects both ends on the calling thread; checks each step.
void connectPair(jnitest::JniHost& host, const WinPipe& pipe, ConnectedPipe& pair,
                 std::string_view purpose, jint openMode = duplexAccess);

}  // namespace pipetest

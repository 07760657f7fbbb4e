#include "pipe_support.h"

#include <gtest/gtest.h>

#include <atomic>

namespace pipetest {

namespace {

constexpr char exportPrefix[] = "Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_";

template <typename Function>
void bind(const jnitest::Library& library, Function*& slot, const char* method) {
    slot = library.get<Function>((std::string(exportPrefix) + method).c_str());
}

}  // namespace

WinPipe::WinPipe(const jnitest::Library& library) {
    bind(library, createNamedPipe, "createNamedPipe");
    bind(library, connectNamedPipe, "connectNamedPipe");
    bind(library, waitForPipe, "waitForPipe");
    bind(library, createFile, "createFile");
    bind(library, read, "read");
    bind(library, write, "write");
    bind(library, flushFileBuffers, "flushFileBuffers");
    bind(library, disconnect, "disconnect");
    bind(library, closeHandle, "closeHandle");
}

std::string uniquePipeName(std::string_view purpose) {
    static std::atomic<int> serial{0};
    return "\\\\.\\pipe\\ulvex-test-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::string(purpose) + "-" + std::to_string(++serial);
}

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

std::string textOf(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

Bytes pattern(std::size_t length, std::uint8_t seed) {
    Bytes bytes(length);
    for (std::size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<std::uint8_t>(seed + i * 7);
    }
    return bytes;
}

OwnedHandle::~OwnedHandle() {
    reset(-1);
}

void OwnedHandle::reset(jint handle) {
    if (handle_ != -1) {
        CloseHandle(widened(handle_));
    }
    handle_ = handle;
}

jint OwnedHandle::release() {
    jint handle = handle_;
    handle_ = -1;
    return handle;
}

jint Transfer::write(jint handle, const Bytes& message) {
    jbyteArray array = host_.byteArray(message);
    return host_.call(pipe_.write, handle, array, static_cast<jint>(message.size()));
}

ReadOutcome Transfer::read(jint handle, jint capacity, jint count, std::uint8_t fill) {
    jbyteArray array = host_.byteArray(Bytes(static_cast<std::size_t>(capacity), fill));
    jint result = host_.call(pipe_.read, handle, array, count);
    return ReadOutcome{result, host_.bytes(array), host_.guardIntact(array)};
}

void connectPair(jnitest::JniHost& host, const WinPipe& pipe, ConnectedPipe& pair,
                 std::string_view purpose, jint openMode) {
    pair.name = uniquePipeName(purpose);
    jstring name = host.string(pair.name);
    pair.server.reset(
        host.call(pipe.createNamedPipe, name, openMode, 1, bufferSize, bufferSize, 1000));
    ASSERT_GE(pair.server.get(), 0) << pair.name;
    pair.client.reset(host.call(pipe.createFile, name, readWriteAccess));
    ASSERT_GE(pair.client.get(), 0) << pair.name;
    ASSERT_EQ(host.call(pipe.connectNamedPipe, pair.server.get()), 1);
}

}  // namespace pipetest

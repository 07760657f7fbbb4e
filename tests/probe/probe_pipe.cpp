// The probe's pipe line: a message from a client end to a server end of one pipe, both opened
// through the library, read back on the server end.
#include <windows.h>

#include <com_ulvex_kesp_tavik_common_communication_win32_WinPipe.h>

#include <cstdio>
#include <string>
#include <vector>

#include "probe.h"

namespace {

using CreateNamedPipeExport =
    decltype(Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_createNamedPipe);
using ConnectNamedPipeExport =
    decltype(Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_connectNamedPipe);
using CreateFileExport =
    decltype(Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_createFile);
using TransferExport = decltype(Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_read);
using CloseHandleExport =
    decltype(Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_closeHandle);

template <typename Function>
Function* winPipe(const jnitest::Library& library, const char* method) {
    return library.get<Function>(
        (std::string("Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_") + method)
            .c_str());
}

}  // namespace

void probePipe(jnitest::JniHost& host, const jnitest::Library& library) {
    auto createNamedPipe = winPipe<CreateNamedPipeExport>(library, "createNamedPipe");
    auto connectNamedPipe = winPipe<ConnectNamedPipeExport>(library, "connectNamedPipe");
    auto createFile = winPipe<CreateFileExport>(library, "createFile");
    auto write = winPipe<TransferExport>(library, "write");
    auto read = winPipe<TransferExport>(library, "read");
    auto closeHandle = winPipe<CloseHandleExport>(library, "closeHandle");

    const std::string name = "\\\\.\\pipe\\ulvex-probe-" + std::to_string(GetCurrentProcessId());
    const std::string text = "hello through the pipe";
    jint server =
        host.call(createNamedPipe, host.string(name), PIPE_ACCESS_DUPLEX, 1, 4096, 4096, 1000);
    jint client =
        host.call(createFile, host.string(name), static_cast<jint>(GENERIC_READ | GENERIC_WRITE));
    jint connected = host.call(connectNamedPipe, server);
    jint written = host.call(write, client, host.byteArray({text.begin(), text.end()}),
                             static_cast<jint>(text.size()));
    jbyteArray buffer = host.byteArray(std::vector<std::uint8_t>(64));
    jint delivered = host.call(read, server, buffer, 64);
    std::vector<std::uint8_t> bytes = host.bytes(buffer);
    std::string received(bytes.begin(), bytes.begin() + (delivered > 0 ? delivered : 0));
    std::printf("pipe: server %ld, client %ld, connected %ld, wrote %ld, read %ld \"%s\"\n", server,
                client, connected, written, delivered, received.c_str());
    host.call(closeHandle, client);
    host.call(closeHandle, server);
}

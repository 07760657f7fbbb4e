// The other end of a pipe test in a process of its own, using Windows directly.
//   pipe_peer NAME LENGTH...
// Opens the client end of NAME in message read mode, writes one message per LENGTH (a pattern
// seeded with the message's position), then echoes every message it reads until the pipe
// closes. Exit code 0 when all went as planned, otherwise the step that failed.
#include <windows.h>

#include <cstdlib>
#include <vector>

namespace {

std::vector<unsigned char> pattern(std::size_t length, unsigned char seed) {
    std::vector<unsigned char> bytes(length);
    for (std::size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<unsigned char>(seed + i * 7);
    }
    return bytes;
}

int echoUntilClosed(HANDLE pipe) {
    std::vector<unsigned char> buffer(65536);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(pipe, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
            DWORD error = GetLastError();
            return error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED ? 0 : 5;
        }
        DWORD written = 0;
        if (!WriteFile(pipe, buffer.data(), read, &written, nullptr) || written != read) {
            return 6;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || !WaitNamedPipeA(argv[1], 10000)) {
        return 1;
    }
    HANDLE pipe = CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) {
        return 2;
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (!SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr)) {
        CloseHandle(pipe);
        return 3;
    }
    for (int i = 2; i < argc; ++i) {
        std::vector<unsigned char> message =
            pattern(std::strtoul(argv[i], nullptr, 10), static_cast<unsigned char>(i - 2));
        DWORD written = 0;
        if (!WriteFile(pipe, message.data(), static_cast<DWORD>(message.size()), &written,
                       nullptr) ||
            written != message.size()) {
            CloseHandle(pipe);
            return 4;
        }
    }
    int result = echoUntilClosed(pipe);
    CloseHandle(pipe);
    return result;
}

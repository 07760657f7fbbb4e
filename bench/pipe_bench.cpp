// Named-pipe transfers through the library's read and write against ReadFile and WriteFile on
// the same kind of pipe (message mode, both ends in this process, the receiving end on a
// thread of its own) with a buffer of the program's own. Each message size runs with Java
// arrays of the message size and with 1 MiB arrays of which only the message's bytes move, as
// a client with one large receive buffer uses them. Prints medians of several repetitions and
// the ratio of the library to the direct calls.
//   pipe_bench [repetitions]
#include <windows.h>

#include <com_ulvex_kesp_tavik_common_communication_win32_WinPipe.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "jni_host.h"
#include "library.h"

namespace {

using Clock = std::chrono::steady_clock;
using ReadExport = decltype(&Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_read);
using WriteExport = decltype(&Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_write);

constexpr DWORD pipeBufferSize = 65536;
constexpr std::size_t largeArray = std::size_t{1} << 20;

struct Exports {
    ReadExport read;
    WriteExport write;
};

// One end of a pipe driven through ReadFile and WriteFile.
class DirectEnd {
public:
    DirectEnd(HANDLE handle, std::size_t size) : handle_(handle), buffer_(size, 0x5A) {}
    bool write() {
        DWORD written = 0;
        return WriteFile(handle_, buffer_.data(), static_cast<DWORD>(buffer_.size()), &written,
                         nullptr) &&
               written == buffer_.size();
    }
    bool read() {
        DWORD read = 0;
        return ReadFile(handle_, buffer_.data(), static_cast<DWORD>(buffer_.size()), &read,
                        nullptr) &&
               read == buffer_.size();
    }

private:
    HANDLE handle_;
    std::vector<char> buffer_;
};

// One end of a pipe driven through the library: messages of `size` bytes in a Java array of
// `arrayLength` bytes.
class LibraryEnd {
public:
    LibraryEnd(const Exports& exports, HANDLE handle, std::size_t size, std::size_t arrayLength)
        : exports_(exports),
          handle_(static_cast<jint>(reinterpret_cast<INT_PTR>(handle))),
          size_(static_cast<jint>(size)),
          array_(host_.byteArray(std::vector<std::uint8_t>(arrayLength, 0x5A))) {}
    bool write() {
        return exports_.write(host_.env(), host_.receiver(), handle_, array_, size_) == size_;
    }
    bool read() {
        return exports_.read(host_.env(), host_.receiver(), handle_, array_, size_) == size_;
    }

private:
    const Exports& exports_;
    jnitest::JniHost host_;
    jint handle_;
    jint size_;
    jbyteArray array_;
};

// A connected message-mode pair made with Windows directly.
struct PipePair {
    HANDLE server = INVALID_HANDLE_VALUE;
    HANDLE client = INVALID_HANDLE_VALUE;

    PipePair() {
        std::string name = "\\\\.\\pipe\\ulvex-bench-" + std::to_string(GetCurrentProcessId());
        server = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX,
                                  PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1,
                                  pipeBufferSize, pipeBufferSize, 1000, nullptr);
        client = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD mode = PIPE_READMODE_MESSAGE;
        SetNamedPipeHandleState(client, &mode, nullptr, nullptr);
        ConnectNamedPipe(server, nullptr);
    }
    ~PipePair() {
        CloseHandle(client);
        CloseHandle(server);
    }
    PipePair(const PipePair&) = delete;
    PipePair& operator=(const PipePair&) = delete;
    bool connected() const {
        return server != INVALID_HANDLE_VALUE && client != INVALID_HANDLE_VALUE;
    }
};

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Bytes per second of `count` messages from the client end to the server end; both ends use
// the same kind of End.
template <typename End>
double throughput(End& writer, End& reader, std::size_t size, int count) {
    bool ok = true;
    Clock::time_point start = Clock::now();
    std::thread receiving([&] {
        for (int i = 0; i < count; ++i) {
            ok = reader.read() && ok;
        }
    });
    for (int i = 0; i < count; ++i) {
        ok = writer.write() && ok;
    }
    receiving.join();
    double seconds = secondsSince(start);
    if (!ok) {
        std::printf("transfer failed\n");
        std::exit(1);
    }
    return static_cast<double>(size) * count / seconds;
}

// Microseconds per round trip: the client end sends, the server end answers with the same
// size, through the same kind of End.
template <typename End>
double roundTrip(End& client, End& server, int count) {
    bool ok = true;
    Clock::time_point start = Clock::now();
    std::thread answering([&] {
        for (int i = 0; i < count; ++i) {
            ok = server.read() && server.write() && ok;
        }
    });
    for (int i = 0; i < count; ++i) {
        ok = client.write() && client.read() && ok;
    }
    answering.join();
    double seconds = secondsSince(start);
    if (!ok) {
        std::printf("round trip failed\n");
        std::exit(1);
    }
    return seconds * 1e6 / count;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    std::size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Throughput (bytes per second) and round trips (microseconds) of one way of driving the ends.
struct Series {
    std::vector<double> throughput, latency;
};

template <typename End>
void run(Series& series, End& client, End& server, std::size_t size, int messages, int trips) {
    series.throughput.push_back(throughput(client, server, size, messages));
    series.latency.push_back(roundTrip(client, server, trips));
}

// The median of the per-repetition ratios a[i]/b[i]: each pair was measured back to back, under
// the same load on the machine.
double pairedRatio(const std::vector<double>& a, const std::vector<double>& b) {
    std::vector<double> ratios;
    for (std::size_t i = 0; i < a.size(); ++i) {
        ratios.push_back(a[i] / b[i]);
    }
    return median(ratios);
}

void measure(const Exports& exports, std::size_t size, std::size_t arrayLength, int repetitions) {
    const int messages = static_cast<int>(std::clamp<std::size_t>((4u << 20) / size, 64, 4096));
    const int trips = size >= 65536 ? 100 : 500;
    PipePair pipe;
    if (!pipe.connected()) {
        std::printf("no pipe: %lu\n", GetLastError());
        std::exit(1);
    }
    DirectEnd directClient(pipe.client, size), directServer(pipe.server, size);
    LibraryEnd libraryClient(exports, pipe.client, size, arrayLength),
        libraryServer(exports, pipe.server, size, arrayLength);
    Series direct, library;
    // Both ways run back to back in every repetition, each going first in turn, so that neither
    // always finds the pipe and the machine as the other left them.
    for (int r = 0; r < repetitions; ++r) {
        if (r % 2 == 0) {
            run(direct, directClient, directServer, size, messages, trips);
        }
        run(library, libraryClient, libraryServer, size, messages, trips);
        if (r % 2 != 0) {
            run(direct, directClient, directServer, size, messages, trips);
        }
    }
    const double mib = 1 << 20;
    std::printf(
        "%6zu B in %7zu B  throughput MiB/s: direct %7.2f library %7.2f  ratio to direct %.3f\n",
        size, arrayLength, median(direct.throughput) / mib, median(library.throughput) / mib,
        pairedRatio(library.throughput, direct.throughput));
    std::printf(
        "%6zu B in %7zu B  round trip us:    direct %7.1f library %7.1f  ratio to direct %.3f\n",
        size, arrayLength, median(direct.latency), median(library.latency),
        pairedRatio(direct.latency, library.latency));
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    jnitest::Library library;
    Exports exports{
        library.get<std::remove_pointer_t<ReadExport>>(
            "Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_read"),
        library.get<std::remove_pointer_t<WriteExport>>(
            "Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_write"),
    };
    if (exports.read == nullptr || exports.write == nullptr) {
        return 1;
    }
    std::printf(
        "pipe transfers, medians of %d repetitions; ratios are medians of "
        "back-to-back pairs, 1.0 = the library is as fast, below 1.0 = slower\n",
        repetitions);
    for (std::size_t size : {std::size_t{64}, std::size_t{4096}, std::size_t{65536}}) {
        measure(exports, size, size, repetitions);
        measure(exports, size, largeArray, repetitions);
    }
    return 0;
}

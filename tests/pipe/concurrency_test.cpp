// Several server instances of one pipe name, each served on its own thread, while client
// threads connect, write and read in parallel for a few seconds.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "import_hook.h"
#include "pipe_support.h"

namespace {

using pipetest::Bytes;
using pipetest::bytesOf;

constexpr int serverCount = 3;
constexpr int clientCount = 4;
constexpr int messagesPerSession = 5;
constexpr auto runTime = std::chrono::seconds(3);

// Handles the library opened and has not closed yet, watched at its imports. The library's
// runtime closes handles of its own when threads end; those are not counted.
std::mutex openLock;
std::set<HANDLE> openHandles;
int openedCount;

void noteOpened(HANDLE handle) {
    if (handle != INVALID_HANDLE_VALUE) {
        std::lock_guard<std::mutex> lock(openLock);
        openHandles.insert(handle);
        ++openedCount;
    }
}
decltype(&CreateNamedPipeW) realCreateNamedPipeW;
decltype(&CreateFileW) realCreateFileW;
decltype(&CloseHandle) realCloseHandle;

HANDLE WINAPI countingCreateNamedPipeW(LPCWSTR name, DWORD openMode, DWORD pipeMode,
                                       DWORD maxInstances, DWORD outSize, DWORD inSize,
                                       DWORD timeout, LPSECURITY_ATTRIBUTES security) {
    HANDLE pipe = realCreateNamedPipeW(name, openMode, pipeMode, maxInstances, outSize, inSize,
                                       timeout, security);
    noteOpened(pipe);
    return pipe;
}
HANDLE WINAPI countingCreateFileW(LPCWSTR name, DWORD access, DWORD share,
                                  LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                  HANDLE temp) {
    HANDLE file = realCreateFileW(name, access, share, security, disposition, flags, temp);
    noteOpened(file);
    return file;
}
BOOL WINAPI countingCloseHandle(HANDLE handle) {
    BOOL result = realCloseHandle(handle);
    if (result) {
        std::lock_guard<std::mutex> lock(openLock);
        openHandles.erase(handle);
    }
    return result;
}

// Failures seen on the worker threads, checked on the test's thread at the end.
struct Tally {
    std::atomic<int> sessions{0};
    std::atomic<int> echoed{0};
    std::atomic<int> mixed{0};
    std::atomic<int> failed{0};
};

// The text of one message: who sent it, in which session, and a length that varies.
Bytes message(int client, int session, int index) {
    std::string text = "client " + std::to_string(client) + " session " + std::to_string(session) +
                       " message " + std::to_string(index) + " ";
    text.append(static_cast<std::size_t>((client * 131 + session * 17 + index * 389) % 3000),
                static_cast<char>('a' + index));
    return bytesOf(text);
}

// Serves one instance: echoes every message of a client until it leaves, then waits for the
// next; ends after a session that starts with "stop".
void serve(jnitest::JniHost& host, const pipetest::WinPipe& pipe, const std::string& name,
           Tally& tally) {
    pipetest::Transfer transfer(host, pipe);
    jint server = host.call(pipe.createNamedPipe, host.string(name), pipetest::duplexAccess,
                            serverCount, pipetest::bufferSize, pipetest::bufferSize, 1000);
    if (server < 0) {
        ++tally.failed;
        return;
    }
    bool stop = false;
    while (!stop) {
        if (host.call(pipe.connectNamedPipe, server) != 1) {
            ++tally.failed;
            break;
        }
        for (;;) {
            pipetest::ReadOutcome read = transfer.read(server, pipetest::bufferSize);
            if (read.result < 0) {
                break;
            }
            read.bytes.resize(static_cast<std::size_t>(read.result));
            if (read.bytes == bytesOf("stop")) {
                stop = true;
                break;
            }
            if (transfer.write(server, read.bytes) != read.result) {
                ++tally.failed;
            }
        }
        host.call(pipe.disconnect, server);
    }
    if (host.call(pipe.closeHandle, server) == 0) {
        ++tally.failed;
    }
}

// Opens a client end, waiting while every instance is busy.
jint openClient(jnitest::JniHost& host, const pipetest::WinPipe& pipe, jstring name) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < giveUp) {
        if (host.call(pipe.waitForPipe, name, 2000)) {
            jint client = host.call(pipe.createFile, name, pipetest::readWriteAccess);
            if (client >= 0) {
                return client;
            }
        }
    }
    return -1;
}

void runClient(jnitest::JniHost& host, const pipetest::WinPipe& pipe, const std::string& name,
               int id, std::chrono::steady_clock::time_point end, Tally& tally) {
    pipetest::Transfer transfer(host, pipe);
    jstring pipeName = host.string(name);
    for (int session = 0; std::chrono::steady_clock::now() < end; ++session) {
        jint client = openClient(host, pipe, pipeName);
        if (client < 0) {
            ++tally.failed;
            return;
        }
        for (int index = 0; index < messagesPerSession; ++index) {
            const Bytes sent = message(id, session, index);
            if (transfer.write(client, sent) != static_cast<jint>(sent.size())) {
                ++tally.failed;
                continue;
            }
            pipetest::ReadOutcome echo = transfer.read(client, pipetest::bufferSize);
            echo.bytes.resize(static_cast<std::size_t>(echo.result < 0 ? 0 : echo.result));
            ++(echo.bytes == sent && echo.guardIntact ? tally.echoed : tally.mixed);
        }
        if (host.call(pipe.closeHandle, client) == 0) {
            ++tally.failed;
        }
        ++tally.sessions;
    }
}

void stopServers(jnitest::JniHost& host, const pipetest::WinPipe& pipe, const std::string& name,
                 Tally& tally) {
    pipetest::Transfer transfer(host, pipe);
    jstring pipeName = host.string(name);
    for (int i = 0; i < serverCount; ++i) {
        jint client = openClient(host, pipe, pipeName);
        if (client < 0 || transfer.write(client, bytesOf("stop")) != 4) {
            ++tally.failed;
        }
        host.call(pipe.closeHandle, client);
    }
}

TEST(Concurrency, InstancesServeParallelClientsWithoutMixingOrLeaking) {
    jnitest::Library library;
    pipetest::WinPipe pipe{library};
    jnitest::ImportHook createHook(library.handle(), "KERNEL32.dll", "CreateNamedPipeW",
                                   &countingCreateNamedPipeW);
    jnitest::ImportHook openHook(library.handle(), "KERNEL32.dll", "CreateFileW",
                                 &countingCreateFileW);
    jnitest::ImportHook closeHook(library.handle(), "KERNEL32.dll", "CloseHandle",
                                  &countingCloseHandle);
    realCreateNamedPipeW = createHook.original<decltype(CreateNamedPipeW)>();
    realCreateFileW = openHook.original<decltype(CreateFileW)>();
    realCloseHandle = closeHook.original<decltype(CloseHandle)>();

    const std::string name = pipetest::uniquePipeName("parallel");
    Tally tally;
    // One environment per thread, as each Java thread has its own; checked here at the end.
    std::vector<std::unique_ptr<jnitest::JniHost>> hosts;
    for (int i = 0; i < serverCount + clientCount + 1; ++i) {
        hosts.push_back(std::make_unique<jnitest::JniHost>());
    }
    std::vector<std::thread> servers;
    for (int i = 0; i < serverCount; ++i) {
        servers.emplace_back([&, i] { serve(*hosts[i], pipe, name, tally); });
    }
    const auto end = std::chrono::steady_clock::now() + runTime;
    std::vector<std::thread> clients;
    for (int i = 0; i < clientCount; ++i) {
        clients.emplace_back(
            [&, i] { runClient(*hosts[serverCount + i], pipe, name, i, end, tally); });
    }
    for (std::thread& client : clients) {
        client.join();
    }
    stopServers(*hosts.back(), pipe, name, tally);
    for (std::thread& server : servers) {
        server.join();
    }

    EXPECT_EQ(tally.failed, 0);
    EXPECT_EQ(tally.mixed, 0);
    EXPECT_GE(tally.sessions, clientCount);
    EXPECT_EQ(tally.echoed, tally.sessions * messagesPerSession);
    EXPECT_TRUE(openHandles.empty()) << openHandles.size() << " handles left open";
    EXPECT_EQ(openedCount, tally.sessions + serverCount * 2);
    for (const auto& host : hosts) {
        EXPECT_EQ(host->heldPins(), 0);
    }
}

}  // namespace

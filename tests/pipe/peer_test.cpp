// The other end of the pipe on another thread of the test process, and in another process:
// message boundaries survive both.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>

#include "pipe_support.h"

namespace {

using pipetest::Bytes;
using pipetest::bytesOf;
using pipetest::pattern;

// A program of its own, ended and closed when the test leaves its scope.
class ChildProcess {
public:
    explicit ChildProcess(std::string commandLine) : info_{} {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        started_ = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                  nullptr, &startup, &info_) != 0;
    }
    ~ChildProcess() {
        if (started_) {
            TerminateProcess(info_.hProcess, 99);
            CloseHandle(info_.hThread);
            CloseHandle(info_.hProcess);
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return started_; }
    // The exit code, or STILL_ACTIVE when the program has not ended within 20 s.
    DWORD exitCode() const {
        WaitForSingleObject(info_.hProcess, 20000);
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(info_.hProcess, &code);
        return code;
    }

private:
    PROCESS_INFORMATION info_;
    bool started_;
};

std::string besideThisProgram(const char* file) {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string directory(path, length);
    return directory.substr(0, directory.find_last_of('\\') + 1) + file;
}

// Joins a thread when the test leaves its scope, also after a failed assertion.
class JoinedThread {
public:
    template <typename Body>
    explicit JoinedThread(Body body) : thread_(body) {}
    ~JoinedThread() { thread_.join(); }
    JoinedThread(const JoinedThread&) = delete;
    JoinedThread& operator=(const JoinedThread&) = delete;

private:
    std::thread thread_;
};

// On leaving the test's scope, connects to the pipe and leaves at once: a server thread still
// waiting for its client after a failed assertion then ends, so that it can be joined.
class PassingClient {
public:
    explicit PassingClient(std::string name) : name_(std::move(name)) {}
    ~PassingClient() {
        HANDLE client = CreateFileA(name_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        if (client != INVALID_HANDLE_VALUE) {
            CloseHandle(client);
        }
    }
    PassingClient(const PassingClient&) = delete;
    PassingClient& operator=(const PassingClient&) = delete;

private:
    std::string name_;
};

// What the echoing server thread saw; checked on the test's thread once it has ended.
struct EchoLog {
    jint connected = -1;
    std::vector<jint> reads;
    std::vector<jint> writes;
    jint disconnected = -1;
};

void serveEcho(jnitest::JniHost& host, const pipetest::WinPipe& pipe, jint server, EchoLog& log) {
    pipetest::Transfer transfer(host, pipe);
    log.connected = host.call(pipe.connectNamedPipe, server);
    for (;;) {
        pipetest::ReadOutcome message = transfer.read(server, 65536);
        log.reads.push_back(message.result);
        if (message.result < 0) {
            break;
        }
        message.bytes.resize(static_cast<std::size_t>(message.result));
        log.writes.push_back(transfer.write(server, message.bytes));
    }
    log.disconnected = host.call(pipe.disconnect, server);
}

class OtherEnd : public ::testing::Test {
protected:
    jint createServer(const std::string& name, jint openMode) {
        return host.call(pipe.createNamedPipe, host.string(name), openMode, 1, pipetest::bufferSize,
                         pipetest::bufferSize, 1000);
    }

    // One whole message read in pieces of at most `count` bytes.
    Bytes readWhole(jint handle, std::size_t length, jint count) {
        Bytes whole;
        do {
            pipetest::ReadOutcome piece = transfer.read(handle, count);
            EXPECT_GE(piece.result, 0);
            EXPECT_TRUE(piece.guardIntact);
            if (piece.result < 0) {
                break;
            }
            whole.insert(whole.end(), piece.bytes.begin(), piece.bytes.begin() + piece.result);
        } while (whole.size() < length);
        return whole;
    }

    jnitest::Library library;
    pipetest::WinPipe pipe{library};
    jnitest::JniHost host;
    pipetest::Transfer transfer{host, pipe};
};

TEST_F(OtherEnd, ThreadOfTheSameProcessEchoesEveryMessage) {
    const std::string name = pipetest::uniquePipeName("thread");
    pipetest::OwnedHandle server(createServer(name, pipetest::duplexAccess));
    ASSERT_GE(server.get(), 0);
    const std::size_t lengths[] = {1, 64, 0, 4096, 5000};
    EchoLog log;
    jnitest::JniHost serverHost;  // the server thread's environment, used by that thread alone
    {
        JoinedThread serverThread([&] { serveEcho(serverHost, pipe, server.get(), log); });
        PassingClient unblocksServer(name);
        ASSERT_TRUE(host.call(pipe.waitForPipe, host.string(name), 5000));
        pipetest::OwnedHandle client(
            host.call(pipe.createFile, host.string(name), pipetest::readWriteAccess));
        ASSERT_GE(client.get(), 0);
        for (std::size_t i = 0; i < std::size(lengths); ++i) {
            const Bytes message = pattern(lengths[i], static_cast<std::uint8_t>(i));
            EXPECT_EQ(transfer.write(client.get(), message), static_cast<jint>(lengths[i]));
            pipetest::ReadOutcome echo = transfer.read(client.get(), 8192);
            ASSERT_EQ(echo.result, static_cast<jint>(lengths[i]));
            echo.bytes.resize(lengths[i]);
            EXPECT_EQ(echo.bytes, message) << "message " << i;
        }
        EXPECT_NE(host.call(pipe.closeHandle, client.release()), 0);
    }
    EXPECT_EQ(log.connected, 1);
    ASSERT_EQ(log.reads.size(), std::size(lengths) + 1);
    for (std::size_t i = 0; i < std::size(lengths); ++i) {
        EXPECT_EQ(log.reads[i], static_cast<jint>(lengths[i]));
        EXPECT_EQ(log.writes[i], static_cast<jint>(lengths[i]));
    }
    EXPECT_EQ(log.reads.back(), -1) << "read after the client closed";
    EXPECT_NE(log.disconnected, 0);
}

TEST_F(OtherEnd, ProcessWritesMessagesThatKeepTheirBoundaries) {
    const std::string name = pipetest::uniquePipeName("process");
    pipetest::OwnedHandle server(createServer(name, pipetest::duplexAccess));
    ASSERT_GE(server.get(), 0);
    const std::size_t lengths[] = {5, 0, 300, 4096, 70000};
    std::string command = "\"" + besideThisProgram("pipe_peer.exe") + "\" " + name;
    for (std::size_t length : lengths) {
        command += " " + std::to_string(length);
    }
    ChildProcess peer(command);
    ASSERT_TRUE(peer.started()) << command << ": " << GetLastError();
    ASSERT_EQ(host.call(pipe.connectNamedPipe, server.get()), 1);

    for (std::size_t i = 0; i < std::size(lengths); ++i) {
        EXPECT_EQ(readWhole(server.get(), lengths[i], 4096),
                  pattern(lengths[i], static_cast<std::uint8_t>(i)))
            << "message " << i;
    }
    const Bytes replies[] = {bytesOf("reply"), pattern(10000, 42)};
    for (const Bytes& reply : replies) {
        EXPECT_EQ(transfer.write(server.get(), reply), static_cast<jint>(reply.size()));
        EXPECT_EQ(readWhole(server.get(), reply.size(), 512), reply);
    }
    EXPECT_NE(host.call(pipe.disconnect, server.get()), 0);
    EXPECT_EQ(peer.exitCode(), 0u);
}

TEST_F(OtherEnd, CommandShellEchoArrivesAsTwoMessages) {
    const std::string name = pipetest::uniquePipeName("shell");
    pipetest::OwnedHandle server(createServer(name, PIPE_ACCESS_INBOUND));
    ASSERT_GE(server.get(), 0);
    char system[MAX_PATH];
    ASSERT_NE(GetSystemDirectoryA(system, MAX_PATH), 0u);
    ChildProcess shell(std::string(system) + "\\cmd.exe /c echo hello> " + name);
    ASSERT_TRUE(shell.started()) << GetLastError();
    ASSERT_EQ(host.call(pipe.connectNamedPipe, server.get()), 1);

    pipetest::ReadOutcome word = transfer.read(server.get(), 64);
    ASSERT_EQ(word.result, 5);
    EXPECT_EQ(Bytes(word.bytes.begin(), word.bytes.begin() + 5), bytesOf("hello"));
    pipetest::ReadOutcome lineEnd = transfer.read(server.get(), 64);
    ASSERT_EQ(lineEnd.result, 2);
    EXPECT_EQ(Bytes(lineEnd.bytes.begin(), lineEnd.bytes.begin() + 2), bytesOf("\r\n"));
    EXPECT_EQ(shell.exitCode(), 0u);
    EXPECT_EQ(transfer.read(server.get(), 64).result, -1);
}

}  // namespace

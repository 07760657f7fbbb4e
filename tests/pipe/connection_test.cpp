// Opening and connecting: createNamedPipe, connectNamedPipe, waitForPipe and createFile, with
// real pipes and, where Wine cannot show what Windows receives, with the imports intercepted.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "import_hook.h"
#include "pipe_support.h"

namespace {

using pipetest::OwnedHandle;

class Connection : public ::testing::Test {
protected:
    jint createServer(const std::string& name, jint maxInstances = 1) {
        return host.call(pipe.createNamedPipe, host.string(name), pipetest::duplexAccess,
                         maxInstances, pipetest::bufferSize, pipetest::bufferSize, 1000);
    }
    jint openClient(const std::string& name) {
        return host.call(pipe.createFile, host.string(name), pipetest::readWriteAccess);
    }

    jnitest::Library library;
    pipetest::WinPipe pipe{library};
    jnitest::JniHost host;
};

TEST_F(Connection, ClientThatConnectedFirstCountsAsConnected) {
    const std::string name = pipetest::uniquePipeName("early");
    OwnedHandle server(createServer(name));
    ASSERT_GE(server.get(), 0);
    OwnedHandle client(openClient(name));
    ASSERT_GE(client.get(), 0);
    EXPECT_EQ(host.call(pipe.connectNamedPipe, server.get()), 1);
}

TEST_F(Connection, ConnectAfterTheClientLeftFails) {
    const std::string name = pipetest::uniquePipeName("gone");
    OwnedHandle server(createServer(name));
    ASSERT_GE(server.get(), 0);
    ASSERT_NE(host.call(pipe.closeHandle, openClient(name)), 0);
    EXPECT_EQ(host.call(pipe.connectNamedPipe, server.get()), 0);
}

TEST_F(Connection, ConnectOnAClientEndFails) {
    const std::string name = pipetest::uniquePipeName("clientend");
    OwnedHandle server(createServer(name));
    ASSERT_GE(server.get(), 0);
    OwnedHandle client(openClient(name));
    ASSERT_GE(client.get(), 0);
    EXPECT_EQ(host.call(pipe.connectNamedPipe, client.get()), 0);
}

struct ConnectReport {
    BOOL succeeded;
    DWORD error;
    jint expected;
};

ConnectReport connectReport;
HANDLE connectSeen;
LPOVERLAPPED connectOverlapped;

BOOL WINAPI reportingConnectNamedPipe(HANDLE pipe, LPOVERLAPPED overlapped) {
    connectSeen = pipe;
    connectOverlapped = overlapped;
    SetLastError(connectReport.error);
    return connectReport.succeeded;
}

TEST_F(Connection, ConnectCountsOnlyPipeConnectedAsAnotherSuccess) {
    const ConnectReport cases[] = {
        {TRUE, 0, 1},
        {TRUE, ERROR_NO_DATA, 1},
        {FALSE, ERROR_PIPE_CONNECTED, 1},
        {FALSE, ERROR_NO_DATA, 0},
        {FALSE, ERROR_INVALID_HANDLE, 0},
        {FALSE, ERROR_MORE_DATA, 0},
    };
    jnitest::ImportHook hook(library.handle(), "KERNEL32.dll", "ConnectNamedPipe",
                             &reportingConnectNamedPipe);
    for (const ConnectReport& c : cases) {
        connectReport = c;
        connectOverlapped = reinterpret_cast<LPOVERLAPPED>(1);
        EXPECT_EQ(host.call(pipe.connectNamedPipe, -2147483000), c.expected)
            << c.succeeded << " error " << c.error;
        EXPECT_EQ(connectSeen, pipetest::widened(-2147483000));
        EXPECT_EQ(connectOverlapped, nullptr);
    }
}

TEST_F(Connection, WaitFindsAListeningInstance) {
    const std::string name = pipetest::uniquePipeName("free");
    OwnedHandle server(createServer(name));
    ASSERT_GE(server.get(), 0);
    EXPECT_EQ(host.call(pipe.waitForPipe, host.string(name), 2000), JNI_TRUE);
}

jint javaHandle(HANDLE handle) {
    return static_cast<jint>(reinterpret_cast<INT_PTR>(handle));
}

// The test's own W calls find the pipe the library made under a name beyond ASCII, and the
// library finds the one they made.
TEST_F(Connection, NamesBeyondAsciiAreTheNamesOtherProgramsUse) {
    for (const char* script :
         {"5\u00b0C", "100 \u20ac", "\u041f\u0451\u0442\u0440", "\u6771\u4eac", "\U0001F600"}) {
        const std::string made = pipetest::uniquePipeName(script);
        const std::u16string madeUnits = host.utf16(host.string(made));
        const auto* madeName = reinterpret_cast<const wchar_t*>(madeUnits.c_str());
        OwnedHandle server(createServer(made));
        ASSERT_GE(server.get(), 0) << made;
        EXPECT_TRUE(WaitNamedPipeW(madeName, 1000)) << made;
        OwnedHandle client(javaHandle(CreateFileW(madeName, GENERIC_READ | GENERIC_WRITE, 0,
                                                  nullptr, OPEN_EXISTING, 0, nullptr)));
        EXPECT_GE(client.get(), 0) << made;

        const std::string theirs = pipetest::uniquePipeName(script);
        const std::u16string theirUnits = host.utf16(host.string(theirs));
        OwnedHandle their(javaHandle(CreateNamedPipeW(
            reinterpret_cast<const wchar_t*>(theirUnits.c_str()), PIPE_ACCESS_DUPLEX,
            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1, 0, 0, 0, nullptr)));
        ASSERT_GE(their.get(), 0) << theirs;
        EXPECT_EQ(host.call(pipe.waitForPipe, host.string(theirs), 1000), JNI_TRUE) << theirs;
        OwnedHandle opened(openClient(theirs));
        EXPECT_GE(opened.get(), 0) << theirs;
    }
}

TEST_F(Connection, WaitFailsForAMissingPipe) {
    EXPECT_EQ(host.call(pipe.waitForPipe, host.string(pipetest::uniquePipeName("missing")), 200),
              JNI_FALSE);
}

TEST_F(Connection, WaitFailsWhileTheOnlyInstanceIsBusy) {
    const std::string name = pipetest::uniquePipeName("busy");
    OwnedHandle server(createServer(name));
    ASSERT_GE(server.get(), 0);
    OwnedHandle client(openClient(name));
    ASSERT_GE(client.get(), 0);
    ASSERT_EQ(host.call(pipe.connectNamedPipe, server.get()), 1);
    EXPECT_EQ(host.call(pipe.waitForPipe, host.string(name), 50), JNI_FALSE);
}

struct WaitCall {
    std::wstring name;
    DWORD timeout = 0;
    int calls = 0;
    BOOL answer = TRUE;
};
WaitCall waitCall;

BOOL WINAPI recordingWaitNamedPipeW(LPCWSTR name, DWORD timeout) {
    waitCall.name = name;
    waitCall.timeout = timeout;
    ++waitCall.calls;
    return waitCall.answer;
}

struct WaitCase {
    jint timeout;
    DWORD reaches;
    BOOL answer;
    jboolean expected;
};

TEST_F(Connection, WaitPassesTheTimeOutAndNarrowsTheAnswer) {
    const WaitCase cases[] = {
        {-1, NMPWAIT_WAIT_FOREVER, TRUE, JNI_TRUE},
        {0, NMPWAIT_USE_DEFAULT_WAIT, TRUE, JNI_TRUE},
        {250, 250, FALSE, JNI_FALSE},
        {-2147483647 - 1, 0x80000000u, TRUE, JNI_TRUE},
        {1, 1, 0x100, JNI_FALSE},
        {1, 1, 0x102, 2},
    };
    jnitest::ImportHook hook(library.handle(), "KERNEL32.dll", "WaitNamedPipeW",
                             &recordingWaitNamedPipeW);
    for (const WaitCase& c : cases) {
        waitCall = WaitCall{};
        waitCall.answer = c.answer;
        EXPECT_EQ(host.call(pipe.waitForPipe, host.string("\\\\.\\pipe\\wait-\xC3\xA9"), c.timeout),
                  c.expected)
            << "time-out " << c.timeout;
        EXPECT_EQ(waitCall.calls, 1);
        EXPECT_EQ(waitCall.timeout, c.reaches) << "time-out " << c.timeout;
        EXPECT_EQ(waitCall.name, L"\\\\.\\pipe\\wait-\u00e9");
    }
    EXPECT_EQ(host.stringRegions(), static_cast<int>(std::size(cases)));
}

struct PipeCreation {
    std::wstring name;
    DWORD openMode, pipeMode, maxInstances, outSize, inSize, timeout;
    LPSECURITY_ATTRIBUTES security;
};
PipeCreation pipeCreation;

HANDLE WINAPI recordingCreateNamedPipeW(LPCWSTR name, DWORD openMode, DWORD pipeMode,
                                        DWORD maxInstances, DWORD outSize, DWORD inSize,
                                        DWORD timeout, LPSECURITY_ATTRIBUTES security) {
    pipeCreation = {name, openMode, pipeMode, maxInstances, outSize, inSize, timeout, security};
    return reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x1234));
}

TEST_F(Connection, CreateNamedPipePassesItsArgumentsInMessageMode) {
    jnitest::ImportHook hook(library.handle(), "KERNEL32.dll", "CreateNamedPipeW",
                             &recordingCreateNamedPipeW);
    pipeCreation.security = reinterpret_cast<LPSECURITY_ATTRIBUTES>(1);
    const DWORD kept =
        PIPE_ACCESS_OUTBOUND | FILE_FLAG_FIRST_PIPE_INSTANCE | WRITE_DAC | FILE_FLAG_WRITE_THROUGH;
    EXPECT_EQ(host.call(pipe.createNamedPipe, host.string("\\\\.\\pipe\\made"),
                        kept | FILE_FLAG_OVERLAPPED, -1, 512, 0, -1),
              0x1234);
    EXPECT_EQ(pipeCreation.name, L"\\\\.\\pipe\\made");
    EXPECT_EQ(pipeCreation.openMode, kept) << "all but the overlapped flag";
    EXPECT_EQ(pipeCreation.pipeMode, 6u);
    EXPECT_EQ(pipeCreation.maxInstances, 0xFFFFFFFFu);
    EXPECT_EQ(pipeCreation.outSize, 512u);
    EXPECT_EQ(pipeCreation.inSize, 0u);
    EXPECT_EQ(pipeCreation.timeout, 0xFFFFFFFFu);
    EXPECT_EQ(pipeCreation.security, nullptr);
}

TEST_F(Connection, CreateNamedPipeWithANameWindowsRefusesGivesNoHandle) {
    EXPECT_EQ(createServer("not a pipe name"), -1);
    const std::string name = pipetest::uniquePipeName("limit");
    OwnedHandle only(createServer(name, 1));
    ASSERT_GE(only.get(), 0);
    EXPECT_EQ(createServer(name, 1), -1) << "an instance beyond the limit of one";
}

struct FileOpening {
    std::wstring name;
    DWORD access, share, disposition, flags;
    LPSECURITY_ATTRIBUTES security;
    HANDLE temp;
};
FileOpening fileOpening;
std::vector<DWORD> accessAsked;
DWORD wideAccessRefusal = ERROR_ACCESS_DENIED;
int modeChanges;
HANDLE modeHandle;
DWORD modeSet;
LPDWORD collectionCount;
LPDWORD collectionTimeout;
decltype(&SetNamedPipeHandleState) realSetNamedPipeHandleState;

HANDLE WINAPI recordingCreateFileW(LPCWSTR name, DWORD access, DWORD share,
                                   LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                   HANDLE temp) {
    fileOpening = {name, access, share, disposition, flags, security, temp};
    accessAsked.push_back(access);
    // As a pipe that refuses the right to set the read mode.
    SetLastError((access & FILE_WRITE_ATTRIBUTES) != 0 ? wideAccessRefusal : ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

BOOL WINAPI recordingSetNamedPipeHandleState(HANDLE pipe, LPDWORD mode, LPDWORD count,
                                             LPDWORD timeout) {
    ++modeChanges;
    modeHandle = pipe;
    modeSet = mode != nullptr ? *mode : 0xFFFFFFFF;
    collectionCount = count;
    collectionTimeout = timeout;
    return realSetNamedPipeHandleState(pipe, mode, count, timeout);
}

class ClientEnd : public Connection {
protected:
    void SetUp() override {
        modeChanges = 0;
        realSetNamedPipeHandleState = hook.original<decltype(SetNamedPipeHandleState)>();
    }

    jnitest::ImportHook hook{library.handle(), "KERNEL32.dll", "SetNamedPipeHandleState",
                             &recordingSetNamedPipeHandleState};
};

TEST_F(ClientEnd, OpeningAPipeSetsMessageReadMode) {
    const std::string name = pipetest::uniquePipeName("mode");
    OwnedHandle server(createServer(name));
    ASSERT_GE(server.get(), 0);
    OwnedHandle client(openClient(name));
    ASSERT_GE(client.get(), 0);
    EXPECT_EQ(modeChanges, 1);
    EXPECT_EQ(modeHandle, pipetest::widened(client.get()));
    EXPECT_EQ(modeSet, static_cast<DWORD>(PIPE_READMODE_MESSAGE));
    EXPECT_EQ(collectionCount, nullptr);
    EXPECT_EQ(collectionTimeout, nullptr);
    DWORD state = 0;
    ASSERT_TRUE(GetNamedPipeHandleStateA(pipetest::widened(client.get()), &state, nullptr, nullptr,
                                         nullptr, nullptr, 0));
    EXPECT_EQ(state & PIPE_READMODE_MESSAGE, static_cast<DWORD>(PIPE_READMODE_MESSAGE));
}

TEST_F(ClientEnd, MissingPipeGivesNoHandleAndNoModeChange) {
    EXPECT_EQ(openClient(pipetest::uniquePipeName("absent")), -1);
    EXPECT_EQ(modeChanges, 0);
}

TEST_F(ClientEnd, OpeningAsksForTheRightToSetTheModeAndPassesFixedSharingDispositionAndFlags) {
    jnitest::ImportHook open(library.handle(), "KERNEL32.dll", "CreateFileW",
                             &recordingCreateFileW);
    fileOpening.security = reinterpret_cast<LPSECURITY_ATTRIBUTES>(1);
    fileOpening.temp = reinterpret_cast<HANDLE>(1);
    EXPECT_EQ(host.call(pipe.createFile, host.string("\\\\.\\pipe\\opened"),
                        static_cast<jint>(GENERIC_READ)),
              -1);
    EXPECT_EQ(accessAsked, (std::vector<DWORD>{GENERIC_READ | FILE_WRITE_ATTRIBUTES, GENERIC_READ}))
        << "the wider access refused, the caller's alone";
    EXPECT_EQ(fileOpening.name, L"\\\\.\\pipe\\opened");
    EXPECT_EQ(fileOpening.share, 0u);
    EXPECT_EQ(fileOpening.security, nullptr);
    EXPECT_EQ(fileOpening.disposition, static_cast<DWORD>(OPEN_EXISTING));
    EXPECT_EQ(fileOpening.flags, static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(fileOpening.temp, nullptr);
    EXPECT_EQ(modeChanges, 0);
    accessAsked.clear();
    host.call(pipe.createFile, host.string("\\\\.\\pipe\\opened"),
              static_cast<jint>(GENERIC_WRITE));
    EXPECT_EQ(accessAsked, std::vector<DWORD>{GENERIC_WRITE});
    accessAsked.clear();
    wideAccessRefusal = ERROR_FILE_NOT_FOUND;
    host.call(pipe.createFile, host.string("\\\\.\\pipe\\opened"), static_cast<jint>(GENERIC_READ));
    wideAccessRefusal = ERROR_ACCESS_DENIED;
    EXPECT_EQ(accessAsked, std::vector<DWORD>{GENERIC_READ | FILE_WRITE_ATTRIBUTES})
        << "another failure is the answer";
}

TEST_F(ClientEnd, OrdinaryFileOpensInItsDefaultMode) {
    char directory[MAX_PATH];
    char path[MAX_PATH];
    ASSERT_NE(GetTempPathA(MAX_PATH, directory), 0u);
    ASSERT_NE(GetTempFileNameA(directory, "upt", 0, path), 0u);
    const char content[] = "file content";
    HANDLE writer = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(writer, content, sizeof content - 1, &written, nullptr);
    CloseHandle(writer);

    OwnedHandle file(
        host.call(pipe.createFile, host.string(path), static_cast<jint>(GENERIC_READ)));
    ASSERT_GE(file.get(), 0);
    EXPECT_EQ(modeChanges, 1) << "the mode change is tried and its failure ignored";
    EXPECT_EQ(GetFileType(pipetest::widened(file.get())), static_cast<DWORD>(FILE_TYPE_DISK));
    pipetest::Transfer transfer(host, pipe);
    pipetest::ReadOutcome read = transfer.read(file.get(), 64);
    ASSERT_EQ(read.result, 12);
    EXPECT_EQ(std::string(read.bytes.begin(), read.bytes.begin() + 12), content);
    EXPECT_NE(host.call(pipe.closeHandle, file.release()), 0);
    DeleteFileA(path);
}

}  // namespace

// Handles as Java ints: narrowed on the way out, sign-extended on the way back; and the three
// functions that hand a handle straight to Windows.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>

#include "import_hook.h"
#include "pipe_support.h"

namespace {

class Handles : public ::testing::Test {
protected:
    jnitest::Library library;
    pipetest::WinPipe pipe{library};
    jnitest::JniHost host;
};

HANDLE madeHandle;
HANDLE closedHandle;

HANDLE WINAPI fixedCreateNamedPipeW(LPCWSTR, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD,
                                    LPSECURITY_ATTRIBUTES) {
    return madeHandle;
}

BOOL WINAPI recordingCloseHandle(HANDLE handle) {
    closedHandle = handle;
    return TRUE;
}

HANDLE fromBits(UINT_PTR bits) {
    return reinterpret_cast<HANDLE>(bits);
}

struct RoundTrip {
    UINT_PTR made;
    jint java;
    UINT_PTR back;
};

TEST_F(Handles, NarrowedOutAndSignExtendedBack) {
    const RoundTrip cases[] = {
        {0x4, 4, 0x4},
        {0x7FFFFFFC, 0x7FFFFFFC, 0x7FFFFFFC},
        {0xFFFFFFFF80000010, -2147483632, 0xFFFFFFFF80000010},
        {0xFFFFFFFFFFFFFFFF, -1, 0xFFFFFFFFFFFFFFFF},
        {0x100000008, 8, 0x8},
    };
    jnitest::ImportHook create(library.handle(), "KERNEL32.dll", "CreateNamedPipeW",
                               &fixedCreateNamedPipeW);
    jnitest::ImportHook close(library.handle(), "KERNEL32.dll", "CloseHandle",
                              &recordingCloseHandle);
    for (const RoundTrip& c : cases) {
        madeHandle = fromBits(c.made);
        jint java = host.call(pipe.createNamedPipe, host.string("\\\\.\\pipe\\h"),
                              pipetest::duplexAccess, 1, 0, 0, 0);
        EXPECT_EQ(java, c.java) << std::hex << c.made;
        EXPECT_EQ(host.call(pipe.closeHandle, java), TRUE);
        EXPECT_EQ(closedHandle, fromBits(c.back)) << std::hex << c.made;
    }
}

TEST_F(Handles, RealPipeHandleComesBackUsable) {
    const std::string name = pipetest::uniquePipeName("usable");
    jint server = host.call(pipe.createNamedPipe, host.string(name), pipetest::duplexAccess, 1,
                            pipetest::bufferSize, pipetest::bufferSize, 1000);
    ASSERT_GE(server, 0);
    pipetest::OwnedHandle owned(server);
    DWORD flags = 0;
    ASSERT_TRUE(GetNamedPipeInfo(pipetest::widened(server), &flags, nullptr, nullptr, nullptr));
    EXPECT_EQ(flags, static_cast<DWORD>(PIPE_SERVER_END | PIPE_TYPE_MESSAGE));
    EXPECT_NE(host.call(pipe.closeHandle, owned.release()), 0);
    EXPECT_FALSE(GetNamedPipeInfo(pipetest::widened(server), &flags, nullptr, nullptr, nullptr))
        << "closeHandle closed the handle Windows made";
}

// The pass-through functions, each observed through its import.
using HandleFunction = BOOL WINAPI(HANDLE);

template <int slot>
struct PassThrough {
    static HandleFunction* real;
    static HANDLE seen;
    static BOOL answered;
    static int calls;

    static BOOL WINAPI record(HANDLE handle) {
        ++calls;
        seen = handle;
        answered = real(handle);
        return answered;
    }
};
template <int slot>
HandleFunction* PassThrough<slot>::real;
template <int slot>
HANDLE PassThrough<slot>::seen;
template <int slot>
BOOL PassThrough<slot>::answered;
template <int slot>
int PassThrough<slot>::calls;

template <int slot>
void checkPassThrough(jnitest::JniHost& host, const jnitest::Library& library,
                      jint (*exported)(JNIEnv*, jclass, jint), const char* import) {
    using Observed = PassThrough<slot>;
    jnitest::ImportHook hook(library.handle(), "KERNEL32.dll", import, &Observed::record);
    Observed::real = hook.original<HandleFunction>();
    const jint handles[] = {0, -1, 0x7FFFFFF0};
    for (jint handle : handles) {
        Observed::calls = 0;
        jint result = host.call(exported, handle);
        EXPECT_EQ(Observed::calls, 1) << import << " " << handle;
        EXPECT_EQ(Observed::seen, pipetest::widened(handle)) << import;
        EXPECT_EQ(result, Observed::answered) << import << " " << handle;
        if (handle == 0) {
            EXPECT_EQ(result, 0) << import << " with handle 0";
        }
    }
}

TEST_F(Handles, PassThroughFunctionsHandWindowsEveryValue) {
    checkPassThrough<0>(host, library, pipe.flushFileBuffers, "FlushFileBuffers");
    checkPassThrough<1>(host, library, pipe.disconnect, "DisconnectNamedPipe");
    checkPassThrough<2>(host, library, pipe.closeHandle, "CloseHandle");
}

BOOL WINAPI wideBool(HANDLE) {
    return 0x12345;
}

TEST_F(Handles, PassThroughFunctionsKeepAllBitsOfTheAnswer) {
    const std::pair<jint (*)(JNIEnv*, jclass, jint), const char*> functions[] = {
        {pipe.flushFileBuffers, "FlushFileBuffers"},
        {pipe.disconnect, "DisconnectNamedPipe"},
        {pipe.closeHandle, "CloseHandle"},
    };
    for (const auto& [exported, import] : functions) {
        jnitest::ImportHook hook(library.handle(), "KERNEL32.dll", import, &wideBool);
        EXPECT_EQ(host.call(exported, 4), 0x12345) << import;
    }
}

TEST_F(Handles, FlushWaitsForTheReaderAndDisconnectEndsTheConnection) {
    pipetest::ConnectedPipe pair;
    pipetest::connectPair(host, pipe, pair, "flush");
    pipetest::Transfer transfer(host, pipe);
    ASSERT_EQ(transfer.write(pair.server.get(), pipetest::bytesOf("flush me")), 8);
    jnitest::JniHost readerHost;  // the reading thread's environment
    pipetest::ReadOutcome seen{};
    std::thread reader(
        [&] { seen = pipetest::Transfer(readerHost, pipe).read(pair.client.get(), 16); });
    EXPECT_NE(host.call(pipe.flushFileBuffers, pair.server.get()), 0);
    reader.join();
    EXPECT_EQ(seen.result, 8);

    EXPECT_NE(host.call(pipe.disconnect, pair.server.get()), 0);
    EXPECT_EQ(transfer.read(pair.client.get(), 16).result, -1);
    EXPECT_NE(host.call(pipe.closeHandle, pair.client.release()), 0);
    EXPECT_NE(host.call(pipe.closeHandle, pair.server.release()), 0);
}

}  // namespace

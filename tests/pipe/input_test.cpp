// Input the caller should not pass, and calls left abnormally: nothing reaches Windows, nothing
// past an array is touched, and every copied name is released.
#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>

#include "guarded_heap.h"
#include "import_hook.h"
#include "pipe_support.h"
#include "seh.h"

namespace {

using pipetest::Bytes;

int readCalls;
int writeCalls;
DWORD lastTransferCount;

BOOL WINAPI countingReadFile(HANDLE, LPVOID, DWORD count, LPDWORD read, LPOVERLAPPED) {
    ++readCalls;
    lastTransferCount = count;
    *read = 0;
    return TRUE;
}

BOOL WINAPI countingWriteFile(HANDLE, LPCVOID, DWORD count, LPDWORD written, LPOVERLAPPED) {
    ++writeCalls;
    lastTransferCount = count;
    *written = count;
    return TRUE;
}

LPVOID WINAPI failingHeapAlloc(HANDLE, DWORD, SIZE_T) {
    return nullptr;
}

class BadInput : public ::testing::Test {
protected:
    void SetUp() override {
        readCalls = 0;
        writeCalls = 0;
    }

    jnitest::Library library;
    pipetest::WinPipe pipe{library};
    jnitest::JniHost host;
    jnitest::ImportHook readHook{library.handle(), "KERNEL32.dll", "ReadFile", &countingReadFile};
    jnitest::ImportHook writeHook{library.handle(), "KERNEL32.dll", "WriteFile",
                                  &countingWriteFile};
};

struct BufferCase {
    const char* name;
    int length;  // -1: a null array
    jint count;
    bool heapUnavailable;  // the library's HeapAlloc fails
};

void PrintTo(const BufferCase& c, std::ostream* out) {
    *out << c.name;
}

const BufferCase refusedBuffers[] = {
    {"NullArray", -1, 1, false},         {"NullArrayCountZero", -1, 0, false},
    {"NegativeCount", 8, -1, false},     {"MostNegativeCount", 8, INT_MIN, false},
    {"CountOnePastEnd", 8, 9, false},    {"LargestCount", 8, INT_MAX, false},
    {"EmptyArrayCountOne", 0, 1, false}, {"HeapUnavailable", 8193, 8193, true},
};

class RefusedBuffer : public BadInput, public ::testing::WithParamInterface<BufferCase> {
protected:
    // Calls read or write with the case's array and count; checks that neither the pipe nor
    // the array was touched.
    jint transfer(decltype(pipetest::WinPipe::read) exported) {
        const BufferCase& c = GetParam();
        const Bytes content(c.length < 0 ? 0 : static_cast<std::size_t>(c.length), 0x5A);
        jbyteArray array = c.length < 0 ? nullptr : host.byteArray(content);
        std::optional<jnitest::ImportHook> noHeap;
        if (c.heapUnavailable) {
            noHeap.emplace(library.handle(), "KERNEL32.dll", "HeapAlloc", &failingHeapAlloc);
        }
        jint result = host.call(exported, 4, array, c.count);
        EXPECT_EQ(readCalls + writeCalls, 0) << "a Windows transfer was made";
        EXPECT_EQ(host.bytesCopied(), 0);
        EXPECT_FALSE(host.exceptionPending());
        if (array != nullptr) {
            EXPECT_TRUE(host.guardIntact(array));
            EXPECT_EQ(host.bytes(array), content);
        }
        return result;
    }
};

TEST_P(RefusedBuffer, ReadFailsWithoutTouchingThePipeOrTheArray) {
    EXPECT_EQ(transfer(pipe.read), -1);
}

TEST_P(RefusedBuffer, WriteFailsWithoutTouchingThePipeOrTheArray) {
    EXPECT_EQ(transfer(pipe.write), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, RefusedBuffer, ::testing::ValuesIn(refusedBuffers),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(BadInput, CountZeroGoesToWindows) {
    const int lengths[] = {0, 8};
    for (int length : lengths) {
        jbyteArray buffer = host.byteArray(Bytes(static_cast<std::size_t>(length), 0x5A));
        lastTransferCount = 99;
        EXPECT_EQ(host.call(pipe.read, 4, buffer, 0), 0);
        EXPECT_EQ(lastTransferCount, 0u);
        lastTransferCount = 99;
        EXPECT_EQ(host.call(pipe.write, 4, buffer, 0), 0);
        EXPECT_EQ(lastTransferCount, 0u);
        EXPECT_TRUE(host.guardIntact(buffer));
    }
    EXPECT_EQ(readCalls, 2);
    EXPECT_EQ(writeCalls, 2);
}

TEST_F(BadInput, WholeArrayIsAValidCount) {
    jbyteArray buffer = host.byteArray(Bytes(8, 0x5A));
    EXPECT_EQ(host.call(pipe.write, 4, buffer, 8), 8);
    EXPECT_EQ(lastTransferCount, 8u);
    EXPECT_EQ(host.call(pipe.read, 4, buffer, 8), 0);
    EXPECT_EQ(lastTransferCount, 8u);
    EXPECT_EQ(host.bytesCopied(), 8) << "the written bytes out, none in for an empty read";
}

// Calls of the name-taking imports; none may happen when the name is not converted.
int nameCalls;

HANDLE WINAPI countingCreateNamedPipeW(LPCWSTR, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD,
                                       LPSECURITY_ATTRIBUTES) {
    ++nameCalls;
    return INVALID_HANDLE_VALUE;
}
HANDLE WINAPI countingCreateFileW(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                                  HANDLE) {
    ++nameCalls;
    return INVALID_HANDLE_VALUE;
}
BOOL WINAPI countingWaitNamedPipeW(LPCWSTR, DWORD) {
    ++nameCalls;
    return TRUE;
}
BOOL WINAPI countingSetNamedPipeHandleState(HANDLE, LPDWORD, LPDWORD, LPDWORD) {
    ++nameCalls;
    return TRUE;
}

class NameNotConverted : public BadInput {
protected:
    void SetUp() override { nameCalls = 0; }

    // The three name-taking exports with a name; their results as ints.
    jint createNamedPipe(jstring name) {
        return host.call(pipe.createNamedPipe, name, pipetest::duplexAccess, 1, 0, 0, 0);
    }
    jint createFile(jstring name) {
        return host.call(pipe.createFile, name, pipetest::readWriteAccess);
    }
    jint waitForPipe(jstring name) { return host.call(pipe.waitForPipe, name, -1); }

    jnitest::ImportHook createHook{library.handle(), "KERNEL32.dll", "CreateNamedPipeW",
                                   &countingCreateNamedPipeW};
    jnitest::ImportHook openHook{library.handle(), "KERNEL32.dll", "CreateFileW",
                                 &countingCreateFileW};
    jnitest::ImportHook waitHook{library.handle(), "KERNEL32.dll", "WaitNamedPipeW",
                                 &countingWaitNamedPipeW};
    jnitest::ImportHook modeHook{library.handle(), "KERNEL32.dll", "SetNamedPipeHandleState",
                                 &countingSetNamedPipeHandleState};
};

// A name holding U+0000 would name another pipe ("\\.\pipe\a"); a name too long for the stack
// whose heap block cannot be had is not copied. Neither reaches Windows.
TEST_F(NameNotConverted, NameWithNulOrWithoutRoomMakesNoWindowsCall) {
    const std::u16string withNul(u"\\\\.\\pipe\\a\0b", 12);
    const std::u16string tooLong = u"\\\\.\\pipe\\" + std::u16string(300, u'\u00e9');
    for (bool heapUnavailable : {false, true}) {
        jstring name = host.string(heapUnavailable ? tooLong : withNul);
        std::optional<jnitest::ImportHook> noHeap;
        if (heapUnavailable) {
            noHeap.emplace(library.handle(), "KERNEL32.dll", "HeapAlloc", &failingHeapAlloc);
        }
        EXPECT_EQ(createNamedPipe(name), -1);
        EXPECT_EQ(createFile(name), -1);
        EXPECT_EQ(waitForPipe(name), JNI_FALSE);
    }
    EXPECT_EQ(nameCalls, 0);
    EXPECT_FALSE(host.exceptionPending());
}

TEST_F(NameNotConverted, NullNameMakesNoConversionAndNoWindowsCall) {
    EXPECT_EQ(createNamedPipe(nullptr), -1);
    EXPECT_EQ(createFile(nullptr), -1);
    EXPECT_EQ(waitForPipe(nullptr), JNI_FALSE);
    EXPECT_EQ(nameCalls, 0);
    EXPECT_EQ(host.stringRegions(), 0);
    EXPECT_FALSE(host.exceptionPending());
}

// Replacement imports that raise a structured exception instead of returning; each counts
// the raises, so that an exception from anywhere else shows.
int raises;

HANDLE WINAPI raisingCreateNamedPipeW(LPCWSTR, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD,
                                      LPSECURITY_ATTRIBUTES) {
    ++raises;
    jnitest::raiseTestException();
}
HANDLE WINAPI raisingCreateFileW(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                                 HANDLE) {
    ++raises;
    jnitest::raiseTestException();
}
BOOL WINAPI raisingWaitNamedPipeW(LPCWSTR, DWORD) {
    ++raises;
    jnitest::raiseTestException();
}

struct RaisingCall {
    JNIEnv* env;
    jclass receiver;
    const pipetest::WinPipe* pipe;
    jstring name;
    int which;  // 0 createNamedPipe, 1 createFile, 2 waitForPipe
};

void callRaising(void* context) {
    const RaisingCall& call = *static_cast<RaisingCall*>(context);
    switch (call.which) {
        case 0:
            call.pipe->createNamedPipe(call.env, call.receiver, call.name, 3, 1, 0, 0, 0);
            break;
        case 1:
            call.pipe->createFile(call.env, call.receiver, call.name, 0);
            break;
        default:
            call.pipe->waitForPipe(call.env, call.receiver, call.name, 0);
            break;
    }
}

struct RaisingCase {
    const char* name;
    const char* import;
    const void* replacement;
    int which;
};

void PrintTo(const RaisingCase& c, std::ostream* out) {
    *out << c.name;
}

class StructuredException : public ::testing::TestWithParam<RaisingCase> {
protected:
    jnitest::Library library;
    pipetest::WinPipe pipe{library};
    jnitest::JniHost host;
};

// A name longer than the stack holds, so that its copy lives in a heap block.
TEST_P(StructuredException, LeavingTheExportStillReleasesTheName) {
    const RaisingCase& c = GetParam();
    jstring name = host.string(u"\\\\.\\pipe\\" + std::u16string(300, u'r'));
    const long blocksHeld = jnitest::guardedBlocksHeld();
    {
        jnitest::ImportHook hook(library.handle(), "KERNEL32.dll", c.import, c.replacement);
        raises = 0;
        for (int round = 1; round <= 2; ++round) {
            RaisingCall call{host.env(), host.receiver(), &pipe, name, c.which};
            ASSERT_TRUE(jnitest::catchesStructuredException(&callRaising, &call));
            EXPECT_EQ(raises, round) << "the exception did not come from the import";
            EXPECT_EQ(host.stringRegions(), round);
            EXPECT_EQ(jnitest::guardedBlocksHeld(), blocksHeld)
                << "name not released by the unwind";
        }
    }
    EXPECT_EQ(host.call(pipe.waitForPipe, host.string("\\\\.\\pipe\\ulvex-test-absent"), 10),
              JNI_FALSE)
        << "an ordinary call after the unwinds";
    EXPECT_TRUE(host.violations().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Exports, StructuredException,
    ::testing::Values(RaisingCase{"createNamedPipe", "CreateNamedPipeW",
                                  reinterpret_cast<const void*>(&raisingCreateNamedPipeW), 0},
                      RaisingCase{"createFile", "CreateFileW",
                                  reinterpret_cast<const void*>(&raisingCreateFileW), 1},
                      RaisingCase{"waitForPipe", "WaitNamedPipeW",
                                  reinterpret_cast<const void*>(&raisingWaitNamedPipeW), 2}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace

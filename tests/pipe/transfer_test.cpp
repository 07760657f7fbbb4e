// read and write on connected message-mode pipes: message boundaries, pieces of long messages,
// empty messages, closed ends, and what Windows reports handed back unchanged.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <thread>

#include "import_hook.h"
#include "pipe_support.h"

namespace {

using pipetest::Bytes;
using pipetest::bytesOf;
using pipetest::pattern;

class Transfer : public ::testing::Test {
protected:
    void SetUp() override { pipetest::connectPair(host, pipe, pair, "transfer"); }

    Bytes slice(const Bytes& bytes, std::size_t from, std::size_t to) {
        return Bytes(bytes.begin() + from, bytes.begin() + to);
    }

    jnitest::Library library;
    pipetest::WinPipe pipe{library};
    jnitest::JniHost host;
    pipetest::Transfer transfer{host, pipe};
    pipetest::ConnectedPipe pair;
};

TEST_F(Transfer, LongerMessageArrivesInPiecesAndTheNextReadContinuesIt) {
    ASSERT_EQ(transfer.write(pair.client.get(), bytesOf("0123456789")), 10);
    ASSERT_EQ(transfer.write(pair.client.get(), bytesOf("next")), 4);

    pipetest::ReadOutcome first = transfer.read(pair.server.get(), 8, 4);
    EXPECT_EQ(first.result, 4);
    EXPECT_EQ(slice(first.bytes, 0, 4), bytesOf("0123"));
    EXPECT_EQ(slice(first.bytes, 4, 8), Bytes(4, 0xEE)) << "bytes after count were written";
    EXPECT_TRUE(first.guardIntact);

    pipetest::ReadOutcome second = transfer.read(pair.server.get(), 4);
    EXPECT_EQ(second.result, 4);
    EXPECT_EQ(second.bytes, bytesOf("4567"));

    pipetest::ReadOutcome rest = transfer.read(pair.server.get(), 100);
    EXPECT_EQ(rest.result, 2);
    EXPECT_EQ(slice(rest.bytes, 0, 2), bytesOf("89"));

    pipetest::ReadOutcome next = transfer.read(pair.server.get(), 100);
    EXPECT_EQ(next.result, 4);
    EXPECT_EQ(slice(next.bytes, 0, 4), bytesOf("next"));
}

TEST_F(Transfer, MessageOfExactlyCountBytesArrivesWhole) {
    const Bytes message = pattern(16, 3);
    ASSERT_EQ(transfer.write(pair.server.get(), message), 16);
    ASSERT_EQ(transfer.write(pair.server.get(), bytesOf("x")), 1);

    pipetest::ReadOutcome exact = transfer.read(pair.client.get(), 16);
    EXPECT_EQ(exact.result, 16);
    EXPECT_EQ(exact.bytes, message);
    EXPECT_TRUE(exact.guardIntact);

    pipetest::ReadOutcome next = transfer.read(pair.client.get(), 16);
    EXPECT_EQ(next.result, 1);
    EXPECT_EQ(next.bytes[0], 'x');
}

TEST_F(Transfer, ZeroLengthMessageReadsAsZeroNotFailure) {
    ASSERT_EQ(transfer.write(pair.client.get(), Bytes{}), 0);
    ASSERT_EQ(transfer.write(pair.client.get(), bytesOf("after")), 5);

    EXPECT_EQ(transfer.read(pair.server.get(), 16).result, 0);
    pipetest::ReadOutcome after = transfer.read(pair.server.get(), 16);
    EXPECT_EQ(after.result, 5);
    EXPECT_EQ(slice(after.bytes, 0, 5), bytesOf("after"));
}

TEST_F(Transfer, ZeroCountReadLeavesTheMessageWaiting) {
    ASSERT_EQ(transfer.write(pair.client.get(), bytesOf("abc")), 3);

    pipetest::ReadOutcome none = transfer.read(pair.server.get(), 4, 0);
    EXPECT_EQ(none.result, 0);
    EXPECT_EQ(none.bytes, Bytes(4, 0xEE));

    pipetest::ReadOutcome whole = transfer.read(pair.server.get(), 3);
    EXPECT_EQ(whole.result, 3);
    EXPECT_EQ(whole.bytes, bytesOf("abc"));
}

TEST_F(Transfer, ClientEndReadsMessageBoundaries) {
    ASSERT_EQ(transfer.write(pair.server.get(), bytesOf("one")), 3);
    ASSERT_EQ(transfer.write(pair.server.get(), bytesOf("two")), 3);

    pipetest::ReadOutcome first = transfer.read(pair.client.get(), 64);
    EXPECT_EQ(first.result, 3) << "the client end reads bytes, not messages";
    EXPECT_EQ(slice(first.bytes, 0, 3), bytesOf("one"));
}

TEST_F(Transfer, OverlappedOpenModeStillGivesAReadThatWaitsForTheMessage) {
    pipetest::ConnectedPipe overlapped;
    pipetest::connectPair(host, pipe, overlapped, "overlapped",
                          pipetest::duplexAccess | FILE_FLAG_OVERLAPPED);
    pipetest::ReadOutcome late{};
    std::thread reader([&] {
        jnitest::JniHost readerHost;
        late = pipetest::Transfer(readerHost, pipe).read(overlapped.server.get(), 8);
    });
    Sleep(200);  // long enough for the read to wait inside Windows
    transfer.write(overlapped.server.get(), bytesOf("ping"));  // on the handle the read waits on
    transfer.write(overlapped.client.get(), bytesOf("late"));
    reader.join();
    EXPECT_EQ(late.result, 4);
    EXPECT_EQ(slice(late.bytes, 0, 4), bytesOf("late"));
}

// Which end goes away, and which end then reads.
struct ClosedEndCase {
    const char* name;
    bool closeClient;     // else the server end is closed or disconnected
    bool disconnectOnly;  // the server disconnects instead of closing
};

void PrintTo(const ClosedEndCase& c, std::ostream* out) {
    *out << c.name;
}

class ReadAfterClose : public Transfer, public ::testing::WithParamInterface<ClosedEndCase> {};

TEST_P(ReadAfterClose, Fails) {
    const ClosedEndCase& c = GetParam();
    ASSERT_EQ(transfer.write(pair.client.get(), bytesOf("unread")), 6);
    jint reader = 0;
    if (c.closeClient) {
        ASSERT_NE(host.call(pipe.closeHandle, pair.client.release()), 0);
        ASSERT_EQ(transfer.read(pair.server.get(), 64).result, 6) << "data written before close";
        reader = pair.server.get();
    } else if (c.disconnectOnly) {
        ASSERT_NE(host.call(pipe.disconnect, pair.server.get()), 0);
        reader = pair.server.get();
    } else {
        ASSERT_NE(host.call(pipe.closeHandle, pair.server.release()), 0);
        reader = pair.client.get();
    }
    pipetest::ReadOutcome outcome = transfer.read(reader, 64);
    EXPECT_EQ(outcome.result, -1);
    EXPECT_TRUE(outcome.guardIntact);
}

INSTANTIATE_TEST_SUITE_P(Ends, ReadAfterClose,
                         ::testing::Values(ClosedEndCase{"ClientClosed", true, false},
                                           ClosedEndCase{"ServerDisconnected", false, true},
                                           ClosedEndCase{"ServerClosed", false, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// What a replacement WriteFile or ReadFile reports, and what the export must make of it.
struct Reported {
    BOOL succeeded;
    DWORD error;
    DWORD bytes;
};

Reported reported;
HANDLE seenHandle;
DWORD seenCount;

BOOL WINAPI reportingWriteFile(HANDLE file, LPCVOID, DWORD count, LPDWORD written, LPOVERLAPPED) {
    seenHandle = file;
    seenCount = count;
    *written = reported.bytes;
    SetLastError(reported.error);
    return reported.succeeded;
}

BOOL WINAPI reportingReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read, LPOVERLAPPED) {
    seenHandle = file;
    seenCount = count;
    std::memset(buffer, 0x77, std::min(count, reported.bytes));
    *read = reported.bytes;
    SetLastError(reported.error);
    return reported.succeeded;
}

struct ReportCase {
    Reported reported;
    jint expected;
};

TEST_F(Transfer, WriteReturnsTheCountWriteFileReports) {
    const ReportCase cases[] = {
        {{TRUE, 0, 10}, 10},
        {{TRUE, 0, 3}, 3},
        {{TRUE, 0, 0}, 0},
        {{FALSE, ERROR_NO_DATA, 5}, 0},
        {{FALSE, ERROR_MORE_DATA, 10}, 0},
    };
    jnitest::ImportHook hook(library.handle(), "KERNEL32.dll", "WriteFile", &reportingWriteFile);
    for (const ReportCase& c : cases) {
        reported = c.reported;
        seenCount = 0;
        EXPECT_EQ(transfer.write(pair.server.get(), pattern(10, 1)), c.expected)
            << "WriteFile gave " << c.reported.succeeded << " with " << c.reported.bytes;
        EXPECT_EQ(seenCount, 10u);
        EXPECT_EQ(seenHandle, pipetest::widened(pair.server.get()));
    }
}

TEST_F(Transfer, ReadCountsMoreDataAsSuccessAndNothingElse) {
    const ReportCase cases[] = {
        {{TRUE, 0, 7}, 7},
        {{TRUE, 0, 0}, 0},
        {{FALSE, ERROR_MORE_DATA, 8}, 8},
        {{FALSE, ERROR_MORE_DATA, 0}, 0},
        {{FALSE, ERROR_BROKEN_PIPE, 0}, -1},
        {{FALSE, ERROR_PIPE_NOT_CONNECTED, 8}, -1},
    };
    jnitest::ImportHook hook(library.handle(), "KERNEL32.dll", "ReadFile", &reportingReadFile);
    for (const ReportCase& c : cases) {
        reported = c.reported;
        seenCount = 0;
        pipetest::ReadOutcome outcome = transfer.read(pair.client.get(), 8);
        EXPECT_EQ(outcome.result, c.expected)
            << "ReadFile gave " << c.reported.succeeded << " error " << c.reported.error
            << " bytes " << c.reported.bytes;
        Bytes delivered(8, 0xEE);
        std::fill_n(delivered.begin(), std::max<jint>(c.expected, 0), 0x77);
        EXPECT_EQ(outcome.bytes, delivered) << "only delivered bytes reach the array";
        EXPECT_EQ(seenCount, 8u);
        EXPECT_EQ(seenHandle, pipetest::widened(pair.client.get()));
    }
}

// Java code storing into the array while a read waits in ReadFile.
std::function<void()> whileReading;
decltype(&ReadFile) realReadFile;

BOOL WINAPI storingReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read,
                            LPOVERLAPPED overlapped) {
    whileReading();
    return realReadFile(file, buffer, count, read, overlapped);
}

// A short message sent from and received into 1 MiB arrays; the read may ask for more.
struct LargeArrayCase {
    const char* name;
    jint message;
    jint readCount;
};

TEST_F(Transfer, LargeArrayMovesOnlyTheMessageAndKeepsJavaStores) {
    const LargeArrayCase cases[] = {
        {"on the stack", 100, 100},
        {"read through the heap", 100, 30000},
        {"both through the heap", 20000, 20000},
    };
    constexpr std::size_t arrayLength = 1 << 20;
    constexpr std::size_t storedAt = arrayLength / 2;
    const Bytes stored = bytesOf("java");
    jnitest::ImportHook hook(library.handle(), "KERNEL32.dll", "ReadFile", &storingReadFile);
    realReadFile = hook.original<decltype(ReadFile)>();
    for (const LargeArrayCase& c : cases) {
        SCOPED_TRACE(c.name);
        jnitest::JniHost writer, reader;
        const Bytes sent = pattern(arrayLength, 1);
        jbyteArray source = writer.byteArray(sent);
        jint written = -1;
        std::thread writing(
            [&] { written = writer.call(pipe.write, pair.client.get(), source, c.message); });
        jbyteArray target = reader.byteArray(Bytes(arrayLength, 0xEE));
        whileReading = [&] { reader.store(target, storedAt, stored); };
        jint delivered = reader.call(pipe.read, pair.server.get(), target, c.readCount);
        writing.join();

        EXPECT_EQ(written, c.message);
        EXPECT_EQ(writer.bytesCopied(), c.message);
        EXPECT_EQ(delivered, c.message);
        EXPECT_EQ(reader.bytesCopied(), c.message);
        Bytes expected(arrayLength, 0xEE);
        std::copy_n(sent.begin(), c.message, expected.begin());
        std::copy(stored.begin(), stored.end(), expected.begin() + storedAt);
        EXPECT_EQ(reader.bytes(target), expected);
        EXPECT_TRUE(reader.guardIntact(target));
    }
}

}  // namespace

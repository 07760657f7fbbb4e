package com.ulvex.bench;

import static java.lang.foreign.ValueLayout.JAVA_BYTE;
import static java.lang.foreign.ValueLayout.JAVA_INT;

import com.sun.jna.Pointer;
import com.sun.jna.platform.win32.Kernel32;
import com.sun.jna.platform.win32.WinBase;
import com.sun.jna.platform.win32.WinNT;
import com.sun.jna.ptr.IntByReference;
import com.ulvex.kesp.tavik.common.communication.win32.WinPipe;
import java.lang.foreign.Arena;
import java.lang.foreign.MemorySegment;
import java.util.Arrays;
import java.util.concurrent.TimeUnit;
import org.openjdk.jmh.annotations.Benchmark;
import org.openjdk.jmh.annotations.BenchmarkMode;
import org.openjdk.jmh.annotations.Mode;
import org.openjdk.jmh.annotations.OutputTimeUnit;
import org.openjdk.jmh.annotations.Param;
import org.openjdk.jmh.annotations.Scope;
import org.openjdk.jmh.annotations.Setup;
import org.openjdk.jmh.annotations.State;
import org.openjdk.jmh.annotations.TearDown;

/**
 * One message written into a connected message-mode pipe and read out at the other end, in one
 * thread: the server end writes, the client end reads. Each side has its own pipe pair made the
 * same way (duplex, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, one instance, the
 * client end switched to message read mode, buffers larger than the largest message so that a
 * write never waits for the read): the library's through WinPipe, FFM's (both forms) through
 * CreateNamedPipeW, CreateFileW, SetNamedPipeHandleState and ConnectNamedPipe downcalls, the two
 * JNA sides' through jna-platform's Kernel32, which calls the same W functions.
 *
 * <p>Every side copies the message from a Java byte[] into native memory, calls WriteFile and
 * ReadFile once each and copies the bytes read back into a byte[]: the library into buffers of
 * its own, FFM into segments of a confined Arena per call or into segments made once, JNA
 * (direct mapping, and jna-platform's Kernel32 with one IntByReference per direction made once)
 * by passing the byte[] straight to the call.
 */
@State(Scope.Thread)
@BenchmarkMode(Mode.AverageTime)
@OutputTimeUnit(TimeUnit.NANOSECONDS)
public class PipeBench {
    static final int PIPE_ACCESS_DUPLEX = 3;
    static final int MESSAGE_MODE =
            WinBase.PIPE_TYPE_MESSAGE | WinBase.PIPE_READMODE_MESSAGE | WinBase.PIPE_WAIT;
    static final int PIPE_BUFFER = 256 * 1024;
    static final int READ_WRITE = WinNT.GENERIC_READ | WinNT.GENERIC_WRITE;

    @Param({"64", "65536"})
    int size;

    byte[] out;
    byte[] in;

    int ourServer = -1;
    int ourClient = -1;

    MemorySegment ffmServer;
    MemorySegment ffmClient;
    MemorySegment outSegment;
    MemorySegment inSegment;
    MemorySegment writtenSegment;
    MemorySegment readSegment;

    WinNT.HANDLE[] jnaWPair;
    long jnaWServer;
    long jnaWClient;
    final int[] writtenCount = new int[1];
    final int[] readCount = new int[1];

    WinNT.HANDLE[] jnaPair;
    final IntByReference written = new IntByReference();
    final IntByReference read = new IntByReference();

    @Setup
    public void setUp() throws Throwable {
        out = new byte[size];
        for (int i = 0; i < size; i++) {
            out[i] = (byte) (i * 31 + 7);
        }
        in = new byte[size];
        String prefix = "\\\\.\\pipe\\ulvex-jmh-" + Kernel32.INSTANCE.GetCurrentProcessId()
                + "-" + size;

        String ours = prefix + "-ours";
        ourServer = WinPipe.createNamedPipe(ours, PIPE_ACCESS_DUPLEX, 1, PIPE_BUFFER, PIPE_BUFFER, 0);
        Checks.succeeded("createNamedPipe", ourServer != -1);
        ourClient = WinPipe.createFile(ours, READ_WRITE);
        Checks.succeeded("our pipe's connection",
                ourClient != -1 && WinPipe.connectNamedPipe(ourServer) == 1);

        Arena arena = Arena.ofAuto();
        ffmPair(prefix + "-ffm", arena);
        outSegment = arena.allocate(size);
        inSegment = arena.allocate(size);
        writtenSegment = arena.allocate(JAVA_INT);
        readSegment = arena.allocate(JAVA_INT);

        jnaWPair = jnaPair(prefix + "-jnaw");
        jnaWServer = Pointer.nativeValue(jnaWPair[0].getPointer());
        jnaWClient = Pointer.nativeValue(jnaWPair[1].getPointer());
        jnaPair = jnaPair(prefix + "-jna");

        check("ours", this::ours);
        check("ffmArena", this::ffmArena);
        check("ffmReused", this::ffmReused);
        check("jnaW", this::jnaW);
        check("jna", this::jna);
    }

    /** Creates and connects FFM's pair, made as users of java.lang.foreign write it. */
    private void ffmPair(String name, Arena arena) throws Throwable {
        MemorySegment wide = arena.allocateFrom(name, Ffm.UTF_16);
        ffmServer = (MemorySegment) Ffm.CREATE_NAMED_PIPE.invokeExact(wide, PIPE_ACCESS_DUPLEX,
                MESSAGE_MODE, 1, PIPE_BUFFER, PIPE_BUFFER, 0, MemorySegment.NULL);
        Checks.succeeded("CreateNamedPipeW", ffmServer.address() != -1L);
        ffmClient = (MemorySegment) Ffm.CREATE_FILE.invokeExact(wide, READ_WRITE, 0,
                MemorySegment.NULL, WinNT.OPEN_EXISTING, WinNT.FILE_ATTRIBUTE_NORMAL,
                MemorySegment.NULL);
        Checks.succeeded("CreateFileW", ffmClient.address() != -1L);
        int moded = (int) Ffm.SET_NAMED_PIPE_HANDLE_STATE.invokeExact(ffmClient,
                arena.allocateFrom(JAVA_INT, WinBase.PIPE_READMODE_MESSAGE), MemorySegment.NULL,
                MemorySegment.NULL);
        Checks.succeeded("SetNamedPipeHandleState", moded != 0);
        // The client is already there: ConnectNamedPipe answers ERROR_PIPE_CONNECTED, and the
        // round trip of the set-up shows that the pair works.
        int connected = (int) Ffm.CONNECT_NAMED_PIPE.invokeExact(ffmServer, MemorySegment.NULL);
    }

    /** Creates and connects a pair through jna-platform: server end first, client end second. */
    private static WinNT.HANDLE[] jnaPair(String name) {
        Kernel32 k = Kernel32.INSTANCE;
        WinNT.HANDLE server = k.CreateNamedPipe(name, PIPE_ACCESS_DUPLEX, MESSAGE_MODE, 1,
                PIPE_BUFFER, PIPE_BUFFER, 0, null);
        Checks.succeeded("CreateNamedPipe", !WinBase.INVALID_HANDLE_VALUE.equals(server));
        WinNT.HANDLE client = k.CreateFile(name, READ_WRITE, 0, null, WinNT.OPEN_EXISTING,
                WinNT.FILE_ATTRIBUTE_NORMAL, null);
        Checks.succeeded("CreateFile", !WinBase.INVALID_HANDLE_VALUE.equals(client));
        Checks.succeeded("SetNamedPipeHandleState", k.SetNamedPipeHandleState(client,
                new IntByReference(WinBase.PIPE_READMODE_MESSAGE), null, null));
        Checks.succeeded("ConnectNamedPipe", k.ConnectNamedPipe(server, null)
                || k.GetLastError() == WinNT.ERROR_PIPE_CONNECTED);
        return new WinNT.HANDLE[] {server, client};
    }

    interface RoundTrip {
        int run() throws Throwable;
    }

    private void check(String side, RoundTrip roundTrip) throws Throwable {
        Arrays.fill(in, (byte) 0);
        Checks.equal(side, size, roundTrip.run());
        Checks.equal(side, true, Arrays.equals(out, in));
    }

    @TearDown
    public void tearDown() throws Throwable {
        WinPipe.closeHandle(ourClient);
        WinPipe.closeHandle(ourServer);
        int client = (int) Ffm.CLOSE_HANDLE.invokeExact(ffmClient);
        int server = (int) Ffm.CLOSE_HANDLE.invokeExact(ffmServer);
        for (WinNT.HANDLE handle : new WinNT.HANDLE[] {jnaWPair[0], jnaWPair[1], jnaPair[0], jnaPair[1]}) {
            Kernel32.INSTANCE.CloseHandle(handle);
        }
    }

    /** A round trip's result: the bytes read, after both calls moved the whole message. */
    private int delivered(String side, boolean succeeded, int sent, int received) {
        if (!succeeded || sent != size || received != size) {
            throw new IllegalStateException(side + ": wrote " + sent + ", read " + received);
        }
        return received;
    }

    @Benchmark
    public int ours() {
        int sent = WinPipe.write(ourServer, out, size);
        int received = WinPipe.read(ourClient, in, size);
        return delivered("ours", true, sent, received);
    }

    @Benchmark
    public int ffmArena() throws Throwable {
        try (Arena arena = Arena.ofConfined()) {
            MemorySegment message = arena.allocateFrom(JAVA_BYTE, out);
            MemorySegment sent = arena.allocate(JAVA_INT);
            int wrote = (int) Ffm.WRITE_FILE.invokeExact(ffmServer, message, size, sent,
                    MemorySegment.NULL);
            MemorySegment buffer = arena.allocate(size);
            MemorySegment received = arena.allocate(JAVA_INT);
            int got = (int) Ffm.READ_FILE.invokeExact(ffmClient, buffer, size, received,
                    MemorySegment.NULL);
            int count = received.get(JAVA_INT, 0);
            MemorySegment.copy(buffer, JAVA_BYTE, 0, in, 0, count);
            return delivered("ffmArena", wrote != 0 && got != 0, sent.get(JAVA_INT, 0), count);
        }
    }

    @Benchmark
    public int ffmReused() throws Throwable {
        MemorySegment.copy(out, 0, outSegment, JAVA_BYTE, 0, size);
        int wrote = (int) Ffm.WRITE_FILE.invokeExact(ffmServer, outSegment, size, writtenSegment,
                MemorySegment.NULL);
        int got = (int) Ffm.READ_FILE.invokeExact(ffmClient, inSegment, size, readSegment,
                MemorySegment.NULL);
        int count = readSegment.get(JAVA_INT, 0);
        MemorySegment.copy(inSegment, JAVA_BYTE, 0, in, 0, count);
        return delivered("ffmReused", wrote != 0 && got != 0, writtenSegment.get(JAVA_INT, 0),
                count);
    }

    @Benchmark
    public int jnaW() {
        boolean succeeded = JnaW.Kernel32.WriteFile(jnaWServer, out, size, writtenCount, null)
                && JnaW.Kernel32.ReadFile(jnaWClient, in, size, readCount, null);
        return delivered("jnaW", succeeded, writtenCount[0], readCount[0]);
    }

    @Benchmark
    public int jna() {
        Kernel32 k = Kernel32.INSTANCE;
        boolean succeeded = k.WriteFile(jnaPair[0], out, size, written, null)
                && k.ReadFile(jnaPair[1], in, size, read, null);
        return delivered("jna", succeeded, written.getValue(), read.getValue());
    }
}

package com.ulvex.bench;

import com.sun.jna.platform.win32.Kernel32;
import com.sun.jna.platform.win32.WinBase;
import com.sun.jna.platform.win32.WinNT;
import com.sun.jna.ptr.IntByReference;
import com.ulvex.kesp.tavik.common.communication.win32.WinPipe;
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
 * write never waits for the read).
 *
 * <p>The JNA side is jna-platform's Kernel32 as a JNA user would call it: byte[] buffers passed
 * straight to WriteFile and ReadFile (JNA copies them to and from native memory on each call)
 * and one IntByReference per direction made once and reused.
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

    @Param({"64", "4096", "65536"})
    int size;

    byte[] out;
    byte[] in;

    int ourServer = -1;
    int ourClient = -1;

    WinNT.HANDLE jnaServer;
    WinNT.HANDLE jnaClient;
    final IntByReference written = new IntByReference();
    final IntByReference read = new IntByReference();

    @Setup
    public void setUp() {
        out = new byte[size];
        for (int i = 0; i < size; i++) {
            out[i] = (byte) (i * 31 + 7);
        }
        in = new byte[size];
        String prefix = "\\\\.\\pipe\\ulvex-jmh-" + Kernel32.INSTANCE.GetCurrentProcessId()
                + "-" + size;

        String ours = prefix + "-ours";
        ourServer = WinPipe.createNamedPipe(ours, PIPE_ACCESS_DUPLEX, 1, PIPE_BUFFER, PIPE_BUFFER, 0);
        if (ourServer == -1) {
            throw new IllegalStateException("createNamedPipe failed");
        }
        ourClient = WinPipe.createFile(ours, READ_WRITE);
        if (ourClient == -1 || WinPipe.connectNamedPipe(ourServer) != 1) {
            throw new IllegalStateException("our pipe did not connect");
        }

        Kernel32 k = Kernel32.INSTANCE;
        String jna = prefix + "-jna";
        jnaServer = k.CreateNamedPipe(jna, PIPE_ACCESS_DUPLEX, MESSAGE_MODE, 1, PIPE_BUFFER,
                PIPE_BUFFER, 0, null);
        if (WinBase.INVALID_HANDLE_VALUE.equals(jnaServer)) {
            throw new IllegalStateException("CreateNamedPipe failed: " + k.GetLastError());
        }
        jnaClient = k.CreateFile(jna, READ_WRITE, 0, null, WinNT.OPEN_EXISTING,
                WinNT.FILE_ATTRIBUTE_NORMAL, null);
        if (WinBase.INVALID_HANDLE_VALUE.equals(jnaClient)) {
            throw new IllegalStateException("CreateFile failed: " + k.GetLastError());
        }
        if (!k.SetNamedPipeHandleState(jnaClient,
                new IntByReference(WinBase.PIPE_READMODE_MESSAGE), null, null)) {
            throw new IllegalStateException("SetNamedPipeHandleState failed: " + k.GetLastError());
        }
        if (!k.ConnectNamedPipe(jnaServer, null)
                && k.GetLastError() != WinNT.ERROR_PIPE_CONNECTED) {
            throw new IllegalStateException("ConnectNamedPipe failed: " + k.GetLastError());
        }

        Arrays.fill(in, (byte) 0);
        ours();
        Checks.equal("ours", true, Arrays.equals(out, in));
        Arrays.fill(in, (byte) 0);
        jna();
        Checks.equal("jna", true, Arrays.equals(out, in));
    }

    @TearDown
    public void tearDown() {
        WinPipe.closeHandle(ourClient);
        WinPipe.closeHandle(ourServer);
        Kernel32.INSTANCE.CloseHandle(jnaClient);
        Kernel32.INSTANCE.CloseHandle(jnaServer);
    }

    @Benchmark
    public int ours() {
        int sent = WinPipe.write(ourServer, out, size);
        int received = WinPipe.read(ourClient, in, size);
        if (sent != size || received != size) {
            throw new IllegalStateException("ours: wrote " + sent + ", read " + received);
        }
        return received;
    }

    @Benchmark
    public int jna() {
        Kernel32 k = Kernel32.INSTANCE;
        if (!k.WriteFile(jnaServer, out, size, written, null)
                || !k.ReadFile(jnaClient, in, size, read, null)
                || written.getValue() != size || read.getValue() != size) {
            throw new IllegalStateException("jna: wrote " + written.getValue() + ", read "
                    + read.getValue() + ", error " + k.GetLastError());
        }
        return read.getValue();
    }
}

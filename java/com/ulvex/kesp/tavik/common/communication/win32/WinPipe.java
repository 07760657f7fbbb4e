package com.ulvex.kesp.tavik.common.communication.win32;

/**
 * Both ends of Windows message-mode named pipes, through {@code ulvexwin64.dll}. Handles are
 * carried as {@code int}; -1 means no handle. Every call is synchronous and blocks for as long
 * as Windows takes. Pipe names cross as UTF-16; a name holding U+0000, which would reach the
 * pipe of the shorter name, is refused as a null one is (-1, or false).
 *
 * <p>{@link #read} and {@link #write} move the first {@code count} bytes of {@code buffer} (a
 * read only the bytes it delivers) and read or write no other element of it; a null buffer or
 * a count outside 0 to {@code buffer.length} fails (-1 and 0) without touching the pipe. {@link #flushFileBuffers}, {@link #disconnect} and {@link #closeHandle} return the
 * Windows {@code BOOL}, nonzero on success.
 */
public final class WinPipe {
    static {
        System.loadLibrary("ulvexwin64");
    }

    private WinPipe() {}

    public static native int createNamedPipe(
            String pipeName,
            int openMode,
            int maxInstances,
            int outBufferSize,
            int inBufferSize,
            int defaultTimeout);

    /** 1 when a client is connected, 0 on failure. */
    public static native int connectNamedPipe(int pipe);

    public static native boolean waitForPipe(String pipeName, int timeout);

    public static native int createFile(String pipeName, int desiredAccess);

    /** Bytes delivered (a longer message continues in the next read), or -1. */
    public static native int read(int handle, byte[] buffer, int count);

    /** Bytes written, or 0. */
    public static native int write(int handle, byte[] buffer, int count);

    public static native int flushFileBuffers(int handle);

    public static native int disconnect(int pipe);

    public static native int closeHandle(int handle);
}

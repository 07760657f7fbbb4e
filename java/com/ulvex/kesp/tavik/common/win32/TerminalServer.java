package com.ulvex.kesp.tavik.common.win32;

/** Terminal Services facts about this machine and session, through {@code ulvexwin64.dll}. */
public final class TerminalServer {
    static {
        System.loadLibrary("ulvexwin64");
    }

    private TerminalServer() {}

    /** Whether the machine runs Terminal Services; false whenever it cannot be told. */
    public static native boolean isTerminalServer();

    /** The id of the session this process runs in; 0 when it cannot be had. */
    public static native int getSessionId();

    /** The name of the connected client machine, read as UTF-16; null when empty or unavailable. */
    public static native String getClientName();
}

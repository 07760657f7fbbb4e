package com.ulvex.kesp.tavik.common.win32;

/** Shell shortcut files, written through {@code ulvexwin64.dll}. */
public final class Win32File {
    static {
        System.loadLibrary("ulvexwin64");
    }

    private Win32File() {}

    /**
     * Writes a shortcut file at {@code linkPath} pointing at {@code targetPath}. Empty strings and
     * a show command of 0 or less leave the shell's defaults.
     */
    public static native int winCreateShortcut(
            String targetPath,
            String arguments,
            String linkPath,
            String description,
            String workingDirectory,
            int showCommand);
}

package com.ulvex.kesp.tavik.common.win32;

/**
 * Shell shortcut files, written through {@code ulvexwin64.dll}.
 *
 * <p>Every string crosses as UTF-16, and the file is saved at the link path as given, whatever
 * its length. The result of {@link #winCreateShortcut} is a Windows error code:
 *
 * <ul>
 *   <li>0: the shortcut file was written.
 *   <li>87 ({@code ERROR_INVALID_PARAMETER}) without any COM work when a string argument was
 *       null, held U+0000 (the shell would read it shorter) or could not be converted (a failed
 *       conversion also leaves its
 *       {@code OutOfMemoryError} to Java).
 *   <li>Otherwise no file was written: the shell's link object or its file interface was
 *       unavailable, the link path could not be converted, or saving failed. The result is then
 *       the calling thread's last Windows error code (read after the link object was asked for,
 *       or after saving when saving failed) when Windows set one, otherwise the Windows code
 *       carried by the failing COM result, otherwise 31 ({@code ERROR_GEN_FAILURE}). Such a
 *       code may be any Windows code, 87 included, but a failure is never reported as 0.
 * </ul>
 *
 * <p>The call initialises COM on the calling thread for its own duration and undoes only an
 * initialisation that succeeded, so a thread that already belongs to a multithreaded apartment
 * keeps it.
 */
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

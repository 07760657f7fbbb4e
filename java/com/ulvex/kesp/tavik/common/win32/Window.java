package com.ulvex.kesp.tavik.common.win32;

/**
 * Plain hidden pop-up windows, made through {@code ulvexwin64.dll}. A window handle is carried
 * as an {@code int}; 0 means no window. Titles and class names cross as UTF-16.
 *
 * <p>The third and fourth parameters of {@link #createWindow} are kept for compatibility and
 * are never read; they are declared as {@code int}.
 */
public final class Window {
    static {
        System.loadLibrary("ulvexwin64");
    }

    private Window() {}

    /**
     * Registers {@code className} (if it is not yet registered) and makes a hidden window of it:
     * the window handle, 0 if Windows refused, or -1 if a name could not be converted or holds
     * U+0000 (Windows would read a shorter name).
     */
    public static native int createWindow(
            String windowName,
            String className,
            int unused1,
            int unused2,
            int x,
            int y,
            int width,
            int height);

    /** Applies a Windows show command; answers whether the window was visible before. */
    public static native boolean showWindow(int window, int showCommand);

    public static native void destroyWindow(int window);
}

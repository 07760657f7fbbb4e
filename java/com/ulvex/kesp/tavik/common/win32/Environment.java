package com.ulvex.kesp.tavik.common.win32;

/**
 * Environment variables of the running process, read through {@code ulvexwin64.dll}. Names and
 * values cross as UTF-16, so every character arrives whole.
 */
public final class Environment {
    static {
        System.loadLibrary("ulvexwin64");
    }

    private Environment() {}

    /**
     * The value of one environment variable as the process holds it now, or {@code null} when
     * the variable is undefined or empty, or when {@code name} is null or holds U+0000 (Windows
     * would read a shorter name). Values of any length are returned whole.
     */
    public static native String getEnvironmentVariable(String name);
}

package com.ulvex.bench;

import org.openjdk.jmh.infra.BenchmarkParams;

/** Set-up checks: every side must deliver the same answer before any is timed. */
final class Checks {
    private Checks() {}

    static void equal(String side, Object expected, Object actual) {
        if (expected == null ? actual != null : !expected.equals(actual)) {
            throw new IllegalStateException(side + ": expected " + expected + ", got " + actual);
        }
    }

    /**
     * The library's answer on a row whose text a library that converts through the ANSI code
     * page cannot deliver: where it differs, the library's side of the row is skipped (its
     * set-up fails with this message) and the other sides are timed as usual.
     */
    static void libraryText(BenchmarkParams run, String expected, String actual) {
        if (expected.equals(actual) || !run.getBenchmark().endsWith(".ours")) {
            return;
        }
        throw new IllegalStateException("row skipped for the library: it returned \"" + actual
                + "\" for \"" + expected + "\" (the text did not cross whole)");
    }

    /** A Windows call of a side's set-up that failed, with the error Windows gave. */
    static void succeeded(String call, boolean succeeded) {
        if (!succeeded) {
            throw new IllegalStateException(call + " failed: "
                    + com.sun.jna.platform.win32.Kernel32.INSTANCE.GetLastError());
        }
    }
}

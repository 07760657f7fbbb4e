package com.ulvex.bench;

/** Set-up checks: both sides must deliver the same answer before either is timed. */
final class Checks {
    private Checks() {}

    static void equal(String side, Object expected, Object actual) {
        if (expected == null ? actual != null : !expected.equals(actual)) {
            throw new IllegalStateException(side + ": expected " + expected + ", got " + actual);
        }
    }
}

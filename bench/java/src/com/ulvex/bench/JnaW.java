package com.ulvex.bench;

import com.sun.jna.Native;
import com.sun.jna.Pointer;
import com.sun.jna.WString;

/**
 * The W functions the benchmark calls through JNA's direct mapping: static natives bound by
 * Native.register, strings passed as WString, handles as long, DWORD out-parameters as int[1]
 * and buffers as Java arrays, which JNA copies to and from native memory on each call.
 */
final class JnaW {
    private JnaW() {}

    static final class Kernel32 {
        static {
            Native.register("kernel32");
        }

        private Kernel32() {}

        static native int GetEnvironmentVariableW(WString name, char[] buffer, int size);

        static native boolean WriteFile(long file, byte[] buffer, int count, int[] written,
                Pointer overlapped);

        static native boolean ReadFile(long file, byte[] buffer, int count, int[] read,
                Pointer overlapped);
    }

    static final class Advapi32 {
        static {
            Native.register("advapi32");
        }

        private Advapi32() {}

        static native int RegOpenKeyExW(long root, WString subKey, int options, int access,
                long[] key);

        static native int RegQueryValueExW(long key, WString name, Pointer reserved, int[] type,
                byte[] data, int[] size);

        static native int RegCloseKey(long key);
    }
}

package com.ulvex.bench;

import com.sun.jna.platform.win32.Advapi32Util;
import com.sun.jna.platform.win32.WinReg;
import com.ulvex.kesp.tavik.common.win32.Registry;
import com.ulvex.kesp.tavik.common.win32.RegistryException;
import java.util.concurrent.TimeUnit;
import org.openjdk.jmh.annotations.Benchmark;
import org.openjdk.jmh.annotations.BenchmarkMode;
import org.openjdk.jmh.annotations.Mode;
import org.openjdk.jmh.annotations.OutputTimeUnit;
import org.openjdk.jmh.annotations.Scope;
import org.openjdk.jmh.annotations.Setup;
import org.openjdk.jmh.annotations.State;
import org.openjdk.jmh.annotations.TearDown;

/**
 * Reads of a short REG_SZ and of a REG_DWORD, and a key's existence, under a scratch key below
 * HKEY_CURRENT_USER made for the run. Each call on either side opens the key, queries and closes
 * it: the library does so inside one export, jna-platform's Advapi32Util in three or four calls
 * through JNA.
 */
@State(Scope.Thread)
@BenchmarkMode(Mode.AverageTime)
@OutputTimeUnit(TimeUnit.NANOSECONDS)
public class RegistryBench {
    static final String KEY = "Software\\UlvexJmh\\Bench";
    static final String PARENT = "Software\\UlvexJmh";
    static final String TEXT = "ulvex bench value";
    static final int NUMBER = 0x12345678;

    String key = KEY;
    String textName = "Text";
    String numberName = "Number";

    @Setup
    public void setUp() throws RegistryException {
        Advapi32Util.registryCreateKey(WinReg.HKEY_CURRENT_USER, KEY);
        Advapi32Util.registrySetStringValue(WinReg.HKEY_CURRENT_USER, KEY, textName, TEXT);
        Advapi32Util.registrySetIntValue(WinReg.HKEY_CURRENT_USER, KEY, numberName, NUMBER);
        Checks.equal("ours", TEXT, Registry.keyGetValue(Registry.HKEY_CURRENT_USER, key, textName));
        Checks.equal("jna", TEXT,
                Advapi32Util.registryGetStringValue(WinReg.HKEY_CURRENT_USER, key, textName));
        Checks.equal("ours", NUMBER,
                Registry.keyGetValue(Registry.HKEY_CURRENT_USER, key, numberName));
        Checks.equal("jna", NUMBER,
                Advapi32Util.registryGetIntValue(WinReg.HKEY_CURRENT_USER, key, numberName));
        Checks.equal("ours", true, Registry.keyExists(Registry.HKEY_CURRENT_USER, key));
        Checks.equal("jna", true, Advapi32Util.registryKeyExists(WinReg.HKEY_CURRENT_USER, key));
    }

    @TearDown
    public void tearDown() {
        Advapi32Util.registryDeleteKey(WinReg.HKEY_CURRENT_USER, KEY);
        Advapi32Util.registryDeleteKey(WinReg.HKEY_CURRENT_USER, PARENT);
    }

    @Benchmark
    public Object stringOurs() throws RegistryException {
        return Registry.keyGetValue(Registry.HKEY_CURRENT_USER, key, textName);
    }

    @Benchmark
    public String stringJna() {
        return Advapi32Util.registryGetStringValue(WinReg.HKEY_CURRENT_USER, key, textName);
    }

    @Benchmark
    public Object dwordOurs() throws RegistryException {
        return Registry.keyGetValue(Registry.HKEY_CURRENT_USER, key, numberName);
    }

    @Benchmark
    public int dwordJna() {
        return Advapi32Util.registryGetIntValue(WinReg.HKEY_CURRENT_USER, key, numberName);
    }

    @Benchmark
    public boolean existsOurs() {
        return Registry.keyExists(Registry.HKEY_CURRENT_USER, key);
    }

    @Benchmark
    public boolean existsJna() {
        return Advapi32Util.registryKeyExists(WinReg.HKEY_CURRENT_USER, key);
    }
}

package com.ulvex.bench;

import static java.lang.foreign.ValueLayout.ADDRESS;
import static java.lang.foreign.ValueLayout.JAVA_CHAR;
import static java.lang.foreign.ValueLayout.JAVA_INT;

import com.sun.jna.WString;
import com.sun.jna.platform.win32.Advapi32Util;
import com.sun.jna.platform.win32.WinNT;
import com.sun.jna.platform.win32.WinReg;
import com.ulvex.kesp.tavik.common.win32.Registry;
import com.ulvex.kesp.tavik.common.win32.RegistryException;
import java.lang.foreign.Arena;
import java.lang.foreign.MemorySegment;
import java.nio.charset.StandardCharsets;
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
 * Reads of a short REG_SZ, and a key's existence, under a scratch key below HKEY_CURRENT_USER
 * made for the run. Each call on every side opens the key, queries and closes it. The library,
 * FFM (a confined Arena per call, or segments made once) and JNA's direct mapping make the same
 * W calls: RegOpenKeyExW, one RegQueryValueExW into a buffer of DATA_BYTES, RegCloseKey (open and
 * close for existence); jna-platform's Advapi32Util queries the size first.
 */
@State(Scope.Thread)
@BenchmarkMode(Mode.AverageTime)
@OutputTimeUnit(TimeUnit.NANOSECONDS)
public class RegistryBench {
    static final String KEY = "Software\\UlvexJmh\\Bench";
    static final String PARENT = "Software\\UlvexJmh";
    static final String TEXT = "ulvex bench value";
    static final int DATA_BYTES = 2048;
    static final int NAME_CHARS = 256;
    static final MemorySegment HKCU = Ffm.root(Registry.HKEY_CURRENT_USER);

    String key = KEY;
    String textName = "Text";

    MemorySegment keySegment;
    MemorySegment nameSegment;
    MemorySegment openedSegment;
    MemorySegment typeSegment;
    MemorySegment sizeSegment;
    MemorySegment dataSegment;
    final long[] opened = new long[1];
    final int[] type = new int[1];
    final int[] size = new int[1];
    final byte[] data = new byte[DATA_BYTES];

    @Setup
    public void setUp() throws Throwable {
        Advapi32Util.registryCreateKey(WinReg.HKEY_CURRENT_USER, KEY);
        Advapi32Util.registrySetStringValue(WinReg.HKEY_CURRENT_USER, KEY, textName, TEXT);
        Arena arena = Arena.ofAuto();
        keySegment = arena.allocate(JAVA_CHAR, NAME_CHARS);
        nameSegment = arena.allocate(JAVA_CHAR, NAME_CHARS);
        openedSegment = arena.allocate(ADDRESS);
        typeSegment = arena.allocate(JAVA_INT);
        sizeSegment = arena.allocate(JAVA_INT);
        dataSegment = arena.allocate(DATA_BYTES + 2);
        Checks.equal("ours", TEXT, stringOurs());
        Checks.equal("ffmArena", TEXT, stringFfmArena());
        Checks.equal("ffmReused", TEXT, stringFfmReused());
        Checks.equal("jnaW", TEXT, stringJnaW());
        Checks.equal("jna", TEXT, stringJna());
        Checks.equal("ours", true, existsOurs());
        Checks.equal("ffmArena", true, existsFfmArena());
        Checks.equal("ffmReused", true, existsFfmReused());
        Checks.equal("jnaW", true, existsJnaW());
        Checks.equal("jna", true, existsJna());
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
    public String stringFfmArena() throws Throwable {
        try (Arena arena = Arena.ofConfined()) {
            MemorySegment opened = arena.allocate(ADDRESS);
            if ((int) Ffm.REG_OPEN_KEY_EX.invokeExact(HKCU, arena.allocateFrom(key, Ffm.UTF_16), 0,
                    WinNT.KEY_READ, opened) != 0) {
                return null;
            }
            MemorySegment handle = opened.get(ADDRESS, 0);
            MemorySegment type = arena.allocate(JAVA_INT);
            MemorySegment size = arena.allocateFrom(JAVA_INT, DATA_BYTES);
            MemorySegment data = arena.allocate(DATA_BYTES + 2);
            int status = (int) Ffm.REG_QUERY_VALUE_EX.invokeExact(handle,
                    arena.allocateFrom(textName, Ffm.UTF_16), MemorySegment.NULL, type, data, size);
            int closed = (int) Ffm.REG_CLOSE_KEY.invokeExact(handle);
            return status == 0 && type.get(JAVA_INT, 0) == WinNT.REG_SZ
                    ? data.getString(0, Ffm.UTF_16) : null;
        }
    }

    @Benchmark
    public String stringFfmReused() throws Throwable {
        keySegment.setString(0, key, Ffm.UTF_16);
        if ((int) Ffm.REG_OPEN_KEY_EX.invokeExact(HKCU, keySegment, 0, WinNT.KEY_READ,
                openedSegment) != 0) {
            return null;
        }
        MemorySegment handle = openedSegment.get(ADDRESS, 0);
        nameSegment.setString(0, textName, Ffm.UTF_16);
        sizeSegment.set(JAVA_INT, 0, DATA_BYTES);
        int status = (int) Ffm.REG_QUERY_VALUE_EX.invokeExact(handle, nameSegment,
                MemorySegment.NULL, typeSegment, dataSegment, sizeSegment);
        int closed = (int) Ffm.REG_CLOSE_KEY.invokeExact(handle);
        if (status != 0 || typeSegment.get(JAVA_INT, 0) != WinNT.REG_SZ) {
            return null;
        }
        dataSegment.set(JAVA_CHAR, sizeSegment.get(JAVA_INT, 0), (char) 0);
        return dataSegment.getString(0, Ffm.UTF_16);
    }

    @Benchmark
    public String stringJnaW() {
        if (JnaW.Advapi32.RegOpenKeyExW(Registry.HKEY_CURRENT_USER, new WString(key), 0,
                WinNT.KEY_READ, opened) != 0) {
            return null;
        }
        size[0] = DATA_BYTES;
        int status = JnaW.Advapi32.RegQueryValueExW(opened[0], new WString(textName), null, type,
                data, size);
        JnaW.Advapi32.RegCloseKey(opened[0]);
        if (status != 0 || type[0] != WinNT.REG_SZ) {
            return null;
        }
        int length = size[0];
        while (length >= 2 && data[length - 2] == 0 && data[length - 1] == 0) {
            length -= 2;
        }
        return new String(data, 0, length, StandardCharsets.UTF_16LE);
    }

    @Benchmark
    public String stringJna() {
        return Advapi32Util.registryGetStringValue(WinReg.HKEY_CURRENT_USER, key, textName);
    }

    @Benchmark
    public boolean existsOurs() {
        return Registry.keyExists(Registry.HKEY_CURRENT_USER, key);
    }

    @Benchmark
    public boolean existsFfmArena() throws Throwable {
        try (Arena arena = Arena.ofConfined()) {
            MemorySegment opened = arena.allocate(ADDRESS);
            if ((int) Ffm.REG_OPEN_KEY_EX.invokeExact(HKCU, arena.allocateFrom(key, Ffm.UTF_16), 0,
                    WinNT.KEY_READ, opened) != 0) {
                return false;
            }
            int closed = (int) Ffm.REG_CLOSE_KEY.invokeExact(opened.get(ADDRESS, 0));
            return true;
        }
    }

    @Benchmark
    public boolean existsFfmReused() throws Throwable {
        keySegment.setString(0, key, Ffm.UTF_16);
        if ((int) Ffm.REG_OPEN_KEY_EX.invokeExact(HKCU, keySegment, 0, WinNT.KEY_READ,
                openedSegment) != 0) {
            return false;
        }
        int closed = (int) Ffm.REG_CLOSE_KEY.invokeExact(openedSegment.get(ADDRESS, 0));
        return true;
    }

    @Benchmark
    public boolean existsJnaW() {
        if (JnaW.Advapi32.RegOpenKeyExW(Registry.HKEY_CURRENT_USER, new WString(key), 0,
                WinNT.KEY_READ, opened) != 0) {
            return false;
        }
        JnaW.Advapi32.RegCloseKey(opened[0]);
        return true;
    }

    @Benchmark
    public boolean existsJna() {
        return Advapi32Util.registryKeyExists(WinReg.HKEY_CURRENT_USER, key);
    }
}

package com.ulvex.bench;

import static java.lang.foreign.ValueLayout.JAVA_CHAR;

import com.sun.jna.WString;
import com.sun.jna.platform.win32.Kernel32;
import com.sun.jna.platform.win32.Kernel32Util;
import com.ulvex.kesp.tavik.common.win32.Environment;
import java.lang.foreign.Arena;
import java.lang.foreign.MemorySegment;
import java.util.concurrent.TimeUnit;
import org.openjdk.jmh.annotations.Benchmark;
import org.openjdk.jmh.annotations.BenchmarkMode;
import org.openjdk.jmh.annotations.Mode;
import org.openjdk.jmh.annotations.OutputTimeUnit;
import org.openjdk.jmh.annotations.Param;
import org.openjdk.jmh.annotations.Scope;
import org.openjdk.jmh.annotations.Setup;
import org.openjdk.jmh.annotations.State;
import org.openjdk.jmh.infra.BenchmarkParams;

/**
 * One short environment variable, read through the library, through GetEnvironmentVariableW
 * called by FFM (a confined Arena per call, or segments made once) and by JNA's direct mapping,
 * and through jna-platform's Kernel32Util. Every side but jna-platform's makes one call into a
 * buffer of VALUE_CHARS units, as the library does; Kernel32Util asks for the size first.
 */
@State(Scope.Thread)
@BenchmarkMode(Mode.AverageTime)
@OutputTimeUnit(TimeUnit.NANOSECONDS)
public class EnvironmentBench {
    static final String NAME = "ULVEX_JMH_VAR";
    static final String VALUE = "C:\\ulvex\\bench";
    static final int VALUE_CHARS = 2048;
    static final int NAME_CHARS = 256;

    @Param({"ascii", "nonAscii"})
    String text;

    // Fields, so that the JIT cannot fold the name into the call.
    String name;
    String value;

    MemorySegment nameSegment;
    MemorySegment valueSegment;
    char[] valueChars;

    @Setup
    public void setUp(BenchmarkParams run) throws Throwable {
        boolean ascii = text.equals("ascii");
        name = ascii ? NAME : NAME + "_Jürgen_東京";
        value = ascii ? VALUE : "C:\\Jürgen Пётр 東京 😀";
        Checks.succeeded("SetEnvironmentVariable", Kernel32.INSTANCE.SetEnvironmentVariable(name, value));
        Arena arena = Arena.ofAuto();
        nameSegment = arena.allocate(JAVA_CHAR, NAME_CHARS);
        valueSegment = arena.allocate(JAVA_CHAR, VALUE_CHARS);
        valueChars = new char[VALUE_CHARS];
        if (ascii) {
            Checks.equal("ours", value, ours());
        } else {
            Checks.libraryText(run, value, ours());
        }
        Checks.equal("ffmArena", value, ffmArena());
        Checks.equal("ffmReused", value, ffmReused());
        Checks.equal("jnaW", value, jnaW());
        Checks.equal("jna", value, jna());
    }

    @Benchmark
    public String ours() {
        return Environment.getEnvironmentVariable(name);
    }

    @Benchmark
    public String ffmArena() throws Throwable {
        try (Arena arena = Arena.ofConfined()) {
            MemorySegment buffer = arena.allocate(JAVA_CHAR, VALUE_CHARS);
            int count = (int) Ffm.GET_ENVIRONMENT_VARIABLE.invokeExact(
                    arena.allocateFrom(name, Ffm.UTF_16), buffer, VALUE_CHARS);
            return count > 0 && count < VALUE_CHARS ? buffer.getString(0, Ffm.UTF_16) : null;
        }
    }

    @Benchmark
    public String ffmReused() throws Throwable {
        nameSegment.setString(0, name, Ffm.UTF_16);
        int count = (int) Ffm.GET_ENVIRONMENT_VARIABLE.invokeExact(nameSegment, valueSegment,
                VALUE_CHARS);
        return count > 0 && count < VALUE_CHARS ? valueSegment.getString(0, Ffm.UTF_16) : null;
    }

    @Benchmark
    public String jnaW() {
        int count = JnaW.Kernel32.GetEnvironmentVariableW(new WString(name), valueChars, VALUE_CHARS);
        return count > 0 && count < VALUE_CHARS ? new String(valueChars, 0, count) : null;
    }

    @Benchmark
    public String jna() {
        return Kernel32Util.getEnvironmentVariable(name);
    }
}

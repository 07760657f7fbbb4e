package com.ulvex.bench;

import static java.lang.foreign.ValueLayout.ADDRESS;
import static java.lang.foreign.ValueLayout.JAVA_CHAR;
import static java.lang.foreign.ValueLayout.JAVA_INT;

import com.sun.jna.platform.win32.Kernel32;
import java.lang.foreign.Arena;
import java.lang.foreign.MemorySegment;
import java.lang.invoke.MethodHandle;
import java.nio.charset.StandardCharsets;
import java.util.concurrent.TimeUnit;
import org.openjdk.jmh.annotations.Benchmark;
import org.openjdk.jmh.annotations.BenchmarkMode;
import org.openjdk.jmh.annotations.Mode;
import org.openjdk.jmh.annotations.OutputTimeUnit;
import org.openjdk.jmh.annotations.Scope;
import org.openjdk.jmh.annotations.Setup;
import org.openjdk.jmh.annotations.State;

/**
 * The pieces of an environment read, with no pair and no row: the Windows call alone through
 * FFM, by its A function (the call the library makes today, name and buffer in code-page bytes)
 * and by its W function, both into the buffers EnvironmentBench uses and with the name converted
 * once. What a side takes beyond its call is its boundary and its conversions.
 */
@State(Scope.Thread)
@BenchmarkMode(Mode.AverageTime)
@OutputTimeUnit(TimeUnit.NANOSECONDS)
public class EnvironmentPiecesBench {
    static final int VALUE_BYTES = 2 * EnvironmentBench.VALUE_CHARS;
    static final MethodHandle GET_ENVIRONMENT_VARIABLE_A = Ffm.downcall(Ffm.KERNEL32,
            "GetEnvironmentVariableA", JAVA_INT, ADDRESS, ADDRESS, JAVA_INT);

    MemorySegment ansiName;
    MemorySegment wideName;
    MemorySegment value;

    @Setup
    public void setUp() throws Throwable {
        Checks.succeeded("SetEnvironmentVariable", Kernel32.INSTANCE.SetEnvironmentVariable(
                EnvironmentBench.NAME, EnvironmentBench.VALUE));
        Arena arena = Arena.ofAuto();
        ansiName = arena.allocateFrom(EnvironmentBench.NAME, StandardCharsets.US_ASCII);
        wideName = arena.allocateFrom(EnvironmentBench.NAME, Ffm.UTF_16);
        value = arena.allocate(JAVA_CHAR, EnvironmentBench.VALUE_CHARS);
        int length = EnvironmentBench.VALUE.length();
        Checks.equal("ansiCall", length, ansiCall());
        Checks.equal("wideCall", length, wideCall());
    }

    @Benchmark
    public int ansiCall() throws Throwable {
        return (int) GET_ENVIRONMENT_VARIABLE_A.invokeExact(ansiName, value, VALUE_BYTES);
    }

    @Benchmark
    public int wideCall() throws Throwable {
        return (int) Ffm.GET_ENVIRONMENT_VARIABLE.invokeExact(wideName, value,
                EnvironmentBench.VALUE_CHARS);
    }
}

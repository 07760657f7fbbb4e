package com.ulvex.bench;

import com.sun.jna.platform.win32.Kernel32;
import java.util.concurrent.TimeUnit;
import org.openjdk.jmh.annotations.Benchmark;
import org.openjdk.jmh.annotations.BenchmarkMode;
import org.openjdk.jmh.annotations.Mode;
import org.openjdk.jmh.annotations.OutputTimeUnit;
import org.openjdk.jmh.annotations.Scope;
import org.openjdk.jmh.annotations.Setup;
import org.openjdk.jmh.annotations.State;

/**
 * What one jna-platform call costs by its arguments, with no pair of ours: none, a String, a
 * String and a char[]. Run with -prof gc to see the garbage each leaves.
 */
@State(Scope.Thread)
@BenchmarkMode(Mode.AverageTime)
@OutputTimeUnit(TimeUnit.NANOSECONDS)
public class JnaCallBench {
    String name = EnvironmentBench.NAME;
    char[] value = new char[64];

    @Setup
    public void setUp() {
        Kernel32.INSTANCE.SetEnvironmentVariable(name, EnvironmentBench.VALUE);
    }

    @Benchmark
    public int noArguments() {
        return Kernel32.INSTANCE.GetCurrentProcessId();
    }

    @Benchmark
    public int stringArgument() {
        return Kernel32.INSTANCE.GetEnvironmentVariable(name, null, 0);
    }

    @Benchmark
    public int stringAndCharArray() {
        return Kernel32.INSTANCE.GetEnvironmentVariable(name, value, value.length);
    }
}

package com.ulvex.bench;

import com.sun.jna.platform.win32.Kernel32;
import com.sun.jna.platform.win32.Kernel32Util;
import com.ulvex.kesp.tavik.common.win32.Environment;
import java.util.concurrent.TimeUnit;
import org.openjdk.jmh.annotations.Benchmark;
import org.openjdk.jmh.annotations.BenchmarkMode;
import org.openjdk.jmh.annotations.Mode;
import org.openjdk.jmh.annotations.OutputTimeUnit;
import org.openjdk.jmh.annotations.Scope;
import org.openjdk.jmh.annotations.Setup;
import org.openjdk.jmh.annotations.State;

/** One short environment variable, read through the library and through jna-platform. */
@State(Scope.Thread)
@BenchmarkMode(Mode.AverageTime)
@OutputTimeUnit(TimeUnit.NANOSECONDS)
public class EnvironmentBench {
    static final String NAME = "ULVEX_JMH_VAR";
    static final String VALUE = "C:\\ulvex\\bench";

    // A field, so that the JIT cannot fold the name into the call.
    String name = NAME;

    @Setup
    public void setUp() {
        if (!Kernel32.INSTANCE.SetEnvironmentVariable(NAME, VALUE)) {
            throw new IllegalStateException("SetEnvironmentVariable failed");
        }
        Checks.equal("ours", VALUE, Environment.getEnvironmentVariable(name));
        Checks.equal("jna", VALUE, Kernel32Util.getEnvironmentVariable(name));
    }

    @Benchmark
    public String ours() {
        return Environment.getEnvironmentVariable(name);
    }

    @Benchmark
    public String jna() {
        return Kernel32Util.getEnvironmentVariable(name);
    }
}

package com.ulvex.bench;

import static java.lang.foreign.ValueLayout.ADDRESS;
import static java.lang.foreign.ValueLayout.JAVA_INT;

import java.lang.foreign.Arena;
import java.lang.foreign.FunctionDescriptor;
import java.lang.foreign.Linker;
import java.lang.foreign.MemoryLayout;
import java.lang.foreign.MemorySegment;
import java.lang.foreign.SymbolLookup;
import java.lang.invoke.MethodHandle;
import java.nio.charset.Charset;
import java.nio.charset.StandardCharsets;

/**
 * The W functions the benchmark calls through the Foreign Function and Memory API: one downcall
 * handle each, looked up once in kernel32 and advapi32. DWORD and BOOL are JAVA_INT, handles
 * and pointers ADDRESS.
 */
final class Ffm {
    static final Charset UTF_16 = StandardCharsets.UTF_16LE;
    static final MemorySegment INVALID_HANDLE_VALUE = MemorySegment.ofAddress(-1L);

    private static final Linker LINKER = Linker.nativeLinker();
    static final SymbolLookup KERNEL32 = SymbolLookup.libraryLookup("kernel32", Arena.global());
    private static final SymbolLookup ADVAPI32 = SymbolLookup.libraryLookup("advapi32", Arena.global());

    static final MethodHandle GET_ENVIRONMENT_VARIABLE =
            downcall(KERNEL32, "GetEnvironmentVariableW", JAVA_INT, ADDRESS, ADDRESS, JAVA_INT);
    static final MethodHandle REG_OPEN_KEY_EX =
            downcall(ADVAPI32, "RegOpenKeyExW", JAVA_INT, ADDRESS, ADDRESS, JAVA_INT, JAVA_INT, ADDRESS);
    static final MethodHandle REG_QUERY_VALUE_EX = downcall(ADVAPI32, "RegQueryValueExW", JAVA_INT,
            ADDRESS, ADDRESS, ADDRESS, ADDRESS, ADDRESS, ADDRESS);
    static final MethodHandle REG_CLOSE_KEY = downcall(ADVAPI32, "RegCloseKey", JAVA_INT, ADDRESS);
    static final MethodHandle CREATE_NAMED_PIPE = downcall(KERNEL32, "CreateNamedPipeW", ADDRESS,
            ADDRESS, JAVA_INT, JAVA_INT, JAVA_INT, JAVA_INT, JAVA_INT, JAVA_INT, ADDRESS);
    static final MethodHandle CREATE_FILE = downcall(KERNEL32, "CreateFileW", ADDRESS, ADDRESS,
            JAVA_INT, JAVA_INT, ADDRESS, JAVA_INT, JAVA_INT, ADDRESS);
    static final MethodHandle SET_NAMED_PIPE_HANDLE_STATE = downcall(KERNEL32,
            "SetNamedPipeHandleState", JAVA_INT, ADDRESS, ADDRESS, ADDRESS, ADDRESS);
    static final MethodHandle CONNECT_NAMED_PIPE =
            downcall(KERNEL32, "ConnectNamedPipe", JAVA_INT, ADDRESS, ADDRESS);
    static final MethodHandle WRITE_FILE = downcall(KERNEL32, "WriteFile", JAVA_INT, ADDRESS,
            ADDRESS, JAVA_INT, ADDRESS, ADDRESS);
    static final MethodHandle READ_FILE = downcall(KERNEL32, "ReadFile", JAVA_INT, ADDRESS, ADDRESS,
            JAVA_INT, ADDRESS, ADDRESS);
    static final MethodHandle CLOSE_HANDLE = downcall(KERNEL32, "CloseHandle", JAVA_INT, ADDRESS);

    private Ffm() {}

    static MethodHandle downcall(SymbolLookup library, String name, MemoryLayout result,
            MemoryLayout... arguments) {
        MemorySegment function = library.find(name).orElseThrow(
                () -> new IllegalStateException(name + " not found"));
        return LINKER.downcallHandle(function, FunctionDescriptor.of(result, arguments));
    }

    /** A predefined registry root as Windows takes it: the int sign-extended to a pointer. */
    static MemorySegment root(int key) {
        return MemorySegment.ofAddress(key);
    }
}

package ulvex;

import static com.ulvex.kesp.tavik.common.win32.Registry.HKEY_CURRENT_USER;
import static java.nio.charset.StandardCharsets.UTF_16;
import static java.nio.charset.StandardCharsets.UTF_8;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertInstanceOf;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.params.provider.Arguments.arguments;

import com.ulvex.kesp.tavik.common.win32.Registry;
import com.ulvex.kesp.tavik.common.win32.RegistryException;
import java.nio.charset.Charset;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import java.util.concurrent.Callable;
import java.util.stream.Stream;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

class RegistryTest {
    static final int HKCU = HKEY_CURRENT_USER;
    static final String KEY = Suite.uniqueName("Software\\");
    static final String MISSING = KEY + "\\missing";
    static final byte[] LARGE = new byte[5000];

    @BeforeAll
    static void createKey() throws RegistryException {
        Arrays.fill(LARGE, 2000, 5000, (byte) 0xA5);
        assertEquals(0, Registry.keyCreate(HKCU, KEY));
        assertEquals(0, Registry.keyCreate(HKCU, KEY + "\\sub"));
    }

    @AfterAll
    static void deleteKey() throws RegistryException {
        assertEquals(0, Registry.keyDelete(HKCU, KEY, false));
        assertFalse(Registry.keyExists(HKCU, KEY));
    }

    static Stream<Arguments> values() {
        String text = "Grüße, € und 日本 ā";
        return Stream.of(
                arguments(Registry.REG_NONE, new byte[] {0, 1, (byte) 0xff}, new byte[] {0, 1, -1}),
                arguments(Registry.REG_SZ, text, text),
                arguments(Registry.REG_SZ, Suite.TEXT, Suite.TEXT),
                arguments(Registry.REG_SZ, "", ""),
                arguments(Registry.REG_EXPAND_SZ, "%SystemRoot%\\fonts", System.getenv("SystemRoot") + "\\fonts"),
                arguments(Registry.REG_BINARY, LARGE, LARGE),
                arguments(Registry.REG_DWORD, -2, -2));
    }

    /**
     * The library reads back what it wrote. Its text keeps the form earlier releases stored (the
     * UTF-8 bytes as text of the ANSI code page), which a double-byte code page such as 932
     * changes as Windows stores it: these rows run under 1252, textIsStoredInTheLibrarysForm
     * under both.
     */
    @ParameterizedTest(name = "type {0}: {1}")
    @MethodSource("values")
    void valueRoundTrip(int type, Object written, Object expected) throws RegistryException {
        String name = "value" + type;
        Registry.keySetValue(HKCU, KEY, name, type, written, false);
        assertTrue(Registry.keyHasValue(HKCU, KEY, name));
        assertEquals(type, Registry.keyGetValueType(HKCU, KEY, name));
        Object read = Registry.keyGetValue(HKCU, KEY, name);
        assertInstanceOf(expected.getClass(), read);
        if (expected instanceof byte[]) {
            assertArrayEquals((byte[]) expected, (byte[]) read);
        } else {
            assertEquals(expected, read);
        }
        Registry.keyDeleteValue(HKCU, KEY, name, false);
        assertFalse(Registry.keyHasValue(HKCU, KEY, name));
    }

    /** Runs Wine's own reg.exe in this virtual machine: a W program, given UTF-16 arguments. */
    static void reg(String... arguments) throws Exception {
        List<String> command = new ArrayList<>(Arrays.asList(arguments));
        command.add(0, "reg");
        assertEquals(0, new ProcessBuilder(command).inheritIO().start().waitFor());
    }

    static void regAdd(String key, String name, String type, String data) throws Exception {
        reg("add", "HKCU\\" + key, "/v", name, "/t", type, "/d", data, "/f");
    }

    static Stream<Arguments> storedByRegExe() {
        return Stream.of(
                // reg.exe stores the number's four bytes in the machine's order, 78 56 34 12, and
                // type 5 reads them as type 4 does: little-endian, no byte swap.
                arguments("REG_DWORD_BIG_ENDIAN", "0x12345678", 0x12345678),
                // Text as UTF-16, under a value name beyond ASCII.
                arguments("REG_SZ", Suite.TEXT, Suite.TEXT),
                arguments("REG_EXPAND_SZ", "%ULVEX_TEXT%\\x", System.getenv("ULVEX_TEXT") + "\\x"));
    }

    @Tag("text")
    @ParameterizedTest(name = "{0}: {1}")
    @MethodSource("storedByRegExe")
    void readsWhatRegExeStored(String type, String data, Object expected) throws Exception {
        String name = type + " " + data;
        regAdd(KEY, name, type, data);
        assertEquals(expected, Registry.keyGetValue(HKCU, KEY, name));
    }

    /**
     * keySetValue stores text as earlier releases did: its UTF-8 bytes as text of the ANSI code
     * page, which is what other programs read (reg.exe exports it as UTF-16).
     */
    @Tag("text")
    @Test
    void textIsStoredInTheLibrarysForm() throws Exception {
        String text = "café 5°C";
        Registry.keySetValue(HKCU, KEY, "stored form", Registry.REG_SZ, text, false);
        Path export = Paths.get(System.getProperty("java.io.tmpdir"), Suite.uniqueName("") + ".reg");
        reg("export", "HKCU\\" + KEY, export.toString(), "/y");
        List<String> lines = Files.readAllLines(export, UTF_16);
        Files.delete(export);
        Charset ansi = Charset.forName(System.getProperty("native.encoding"));
        assertTrue(lines.contains("\"stored form\"=\"" + new String(text.getBytes(UTF_8), ansi) + "\""), lines.toString());
        assertEquals(text, Registry.keyGetValue(HKCU, KEY, "stored form"));
    }

    @Tag("text")
    @Test
    void keysAndTheirContents() throws Exception {
        assertTrue(Registry.keyExists(HKCU, KEY));
        assertFalse(Registry.keyExists(HKCU, MISSING));
        assertTrue(Registry.keyHasSubKeys(HKCU, KEY));
        assertFalse(Registry.keyHasSubKeys(HKCU, KEY + "\\sub"));
        Registry.keySetValue(HKCU, KEY + "\\sub", "flag", Registry.REG_DWORD, 1, true);
        assertTrue(Registry.keyHasValues(HKCU, KEY + "\\sub"));
        Registry.keyDeleteValue(HKCU, KEY + "\\sub", "flag", true);
        assertFalse(Registry.keyHasValues(HKCU, KEY + "\\sub"));
        Registry.broadcastUpdate();
        // A key that a W program made under a name beyond ASCII is found, read and deleted.
        String others = KEY + "\\" + Suite.TEXT;
        regAdd(others, "v", "REG_SZ", "x");
        assertTrue(Registry.keyExists(HKCU, others));
        assertTrue(Registry.keyHasValues(HKCU, others));
        assertEquals(0, Registry.keyDelete(HKCU, others, false));
        assertFalse(Registry.keyExists(HKCU, others));
    }

    static Stream<Arguments> failures() {
        int sz = Registry.REG_SZ;
        int multiSz = Registry.REG_MULTI_SZ;
        // Wine counts nothing under HKEY_PERFORMANCE_DATA, and writes no value of so long a name.
        int performanceData = Registry.HKEY_PERFORMANCE_DATA;
        String longName = "v".repeat(20_000);
        return Stream.of(
                raises("Attempted to create existing key", () -> Registry.keyCreate(HKCU, KEY)),
                raises("Could not delete registry key", () -> Registry.keyDelete(HKCU, MISSING, false)),
                raises("Could not delete registry key", () -> Registry.keyDelete(HKCU, "\\", false)),
                raises("Error opening registry key", () -> Registry.keyHasSubKeys(HKCU, MISSING)),
                raises("Error retreiving registry value", () -> Registry.keyGetValue(HKCU, KEY, "none")),
                raises("Error retreiving registry value", () -> Registry.keyGetValueType(HKCU, KEY, "none")),
                raises("Error deleting registry key value", () -> Registry.keyDeleteValue(HKCU, KEY, "none", false)),
                raises("Error counting registry subkeys", () -> Registry.keyHasSubKeys(performanceData, "")),
                raises("Error counting registry values", () -> Registry.keyHasValues(performanceData, "")),
                raises("Error setting registry value (REG_NONE/REG_BINARY)",
                        () -> Registry.keySetValue(HKCU, KEY, longName, Registry.REG_BINARY, new byte[1], false)),
                // A failed text write raises the system's text for the error: Wine's for 87.
                raises("Invalid parameter.\r\n", () -> Registry.keySetValue(HKCU, KEY, longName, sz, "x", false)),
                raises("Error setting registry value (REG_DWORD/REG_DWORD_BIG_ENDIAN)",
                        () -> Registry.keySetValue(HKCU, KEY, longName, Registry.REG_DWORD, 1, false)),
                raises("Incompatible data types", () -> Registry.keySetValue(HKCU, KEY, "v", sz, 1, false)),
                raises("Incompatible data types", () -> Registry.keySetValue(HKCU, KEY, "v", sz, null, false)),
                raises("Not implemented", () -> Registry.keySetValue(HKCU, KEY, "v", multiSz, "", false)),
                raises("Unsupported value type", () -> Registry.keySetValue(HKCU, KEY, "v", Registry.REG_LINK, 1, false)),
                raises("Unsupported data type", () -> {
                    // Written by reg.exe: the library writes no REG_MULTI_SZ.
                    regAdd(KEY, "list", "REG_MULTI_SZ", "a");
                    Registry.keyGetValue(HKCU, KEY, "list");
                }));
    }

    static Arguments raises(String message, Executable call) {
        return arguments(message, call);
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("failures")
    void failuresRaiseTheirMessage(String message, Executable call) {
        assertEquals(message, assertThrows(RegistryException.class, call).getMessage());
    }

    static Stream<Arguments> nullArguments() {
        return Stream.of(
                gives(-1, () -> Registry.keyCreate(HKCU, null)),
                gives(-1, () -> Registry.keyDelete(HKCU, null, true)),
                gives(false, () -> Registry.keyExists(HKCU, null)),
                // Cut at U+0000, the path would name the suite's key.
                gives(false, () -> Registry.keyExists(HKCU, KEY + "\u0000x")),
                gives(false, () -> Registry.keyHasSubKeys(HKCU, null)),
                gives(false, () -> Registry.keyHasValues(HKCU, null)),
                gives(false, () -> Registry.keyHasValue(HKCU, null, "v")),
                gives(false, () -> Registry.keyHasValue(HKCU, KEY, null)),
                gives(-1, () -> Registry.keyGetValueType(HKCU, null, "v")),
                gives(-1, () -> Registry.keyGetValueType(HKCU, KEY, null)),
                gives(null, () -> Registry.keyGetValue(HKCU, null, "v")),
                gives(null, () -> Registry.keyGetValue(HKCU, KEY, null)),
                gives(false, () -> {
                    Registry.keyDeleteValue(HKCU, null, "v", true);
                    Registry.keyDeleteValue(HKCU, KEY, null, true);
                    Registry.keySetValue(HKCU, null, "v", Registry.REG_SZ, "x", true);
                    Registry.keySetValue(HKCU, KEY, null, Registry.REG_SZ, "x", true);
                    return Registry.keyHasValue(HKCU, KEY, "v") || Registry.keyHasValue(HKCU, KEY, "");
                }));
    }

    static Arguments gives(Object result, Callable<Object> call) {
        return arguments(result, call);
    }

    @Tag("text")
    @ParameterizedTest
    @MethodSource("nullArguments")
    void nullArgumentsGiveTheirResult(Object result, Callable<Object> call) throws Exception {
        assertEquals(result, call.call());
    }

    @Test
    void eightThreadsReadAtOnce() throws Exception {
        Registry.keySetValue(HKCU, KEY, "shared", Registry.REG_SZ, "read by many", false);
        Registry.keySetValue(HKCU, KEY, "large", Registry.REG_BINARY, LARGE, false);
        assertEquals(Collections.nCopies(8, 200), Suite.onEightThreads(() -> {
            int same = 0;
            for (int i = 0; i < 200; i++) {
                boolean text = "read by many".equals(Registry.keyGetValue(HKCU, KEY, "shared"));
                same += text && Arrays.equals(LARGE, (byte[]) Registry.keyGetValue(HKCU, KEY, "large")) ? 1 : 0;
            }
            return same;
        }));
    }
}

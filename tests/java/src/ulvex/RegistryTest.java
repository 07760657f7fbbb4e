package ulvex;

import static com.ulvex.kesp.tavik.common.win32.Registry.HKEY_CURRENT_USER;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertInstanceOf;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ulvex.kesp.tavik.common.win32.Registry;
import com.ulvex.kesp.tavik.common.win32.RegistryException;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.Callable;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.stream.Stream;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

class RegistryTest {
    static final int HKCU = HKEY_CURRENT_USER;
    static final String KEY = Unique.name("Software\\");
    static final String MISSING = KEY + "\\missing";
    static final byte[] LARGE = new byte[5000];

    @BeforeAll
    static void createKey() throws RegistryException {
        for (int i = 0; i < LARGE.length; i++) {
            LARGE[i] = (byte) i;
        }
        assertEquals(0, Registry.keyCreate(HKCU, KEY));
        assertEquals(0, Registry.keyCreate(HKCU, KEY + "\\sub"));
    }

    @AfterAll
    static void deleteKey() throws RegistryException {
        assertEquals(0, Registry.keyDelete(HKCU, KEY, false));
        assertFalse(Registry.keyExists(HKCU, KEY));
    }

    static Stream<Arguments> values() {
        String root = System.getenv("SystemRoot");
        return Stream.of(
                Arguments.of(Registry.REG_NONE, new byte[] {0, 1, (byte) 0xff}, new byte[] {0, 1, -1}),
                Arguments.of(Registry.REG_SZ, "plain text", "plain text"),
                Arguments.of(Registry.REG_SZ, "Grüße, € und 日本 ā", "Grüße, € und 日本 ā"),
                Arguments.of(Registry.REG_SZ, "", ""),
                Arguments.of(Registry.REG_EXPAND_SZ, "%SystemRoot%\\fonts", root + "\\fonts"),
                Arguments.of(Registry.REG_BINARY, LARGE, LARGE),
                Arguments.of(Registry.REG_DWORD, -2, -2),
                Arguments.of(Registry.REG_DWORD_BIG_ENDIAN, 0x12345678, 0x12345678));
    }

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

    @Test
    void keysAndTheirContents() throws RegistryException {
        assertTrue(Registry.keyExists(HKCU, KEY));
        assertFalse(Registry.keyExists(HKCU, MISSING));
        assertTrue(Registry.keyHasSubKeys(HKCU, KEY));
        assertFalse(Registry.keyHasSubKeys(HKCU, KEY + "\\sub"));
        Registry.keySetValue(HKCU, KEY + "\\sub", "flag", Registry.REG_DWORD, 1, true);
        assertTrue(Registry.keyHasValues(HKCU, KEY + "\\sub"));
        Registry.keyDeleteValue(HKCU, KEY + "\\sub", "flag", true);
        assertFalse(Registry.keyHasValues(HKCU, KEY + "\\sub"));
        Registry.broadcastUpdate();
    }

    static Stream<Arguments> failures() {
        return Stream.of(
                failure("Attempted to create existing key", () -> Registry.keyCreate(HKCU, KEY)),
                failure("Could not delete registry key", () -> Registry.keyDelete(HKCU, MISSING, false)),
                failure("Could not delete registry key", () -> Registry.keyDelete(HKCU, "\\", false)),
                failure("Error opening registry key", () -> Registry.keyHasSubKeys(HKCU, MISSING)),
                failure("Error opening registry key", () -> Registry.keyGetValue(HKCU, MISSING, "v")),
                failure("Error retreiving registry value", () -> Registry.keyGetValue(HKCU, KEY, "none")),
                failure("Error retreiving registry value", () -> Registry.keyGetValueType(HKCU, KEY, "none")),
                failure("Error deleting registry key value", () -> Registry.keyDeleteValue(HKCU, KEY, "none", false)),
                failure("Incompatible data types", () -> Registry.keySetValue(HKCU, KEY, "v", Registry.REG_SZ, 1, false)),
                failure("Incompatible data types", () -> Registry.keySetValue(HKCU, KEY, "v", Registry.REG_DWORD, "1", false)),
                failure("Incompatible data types", () -> Registry.keySetValue(HKCU, KEY, "v", Registry.REG_BINARY, null, false)),
                failure("Not implemented", () -> Registry.keySetValue(HKCU, KEY, "v", Registry.REG_MULTI_SZ, "a", false)),
                failure("Unsupported value type", () -> Registry.keySetValue(HKCU, KEY, "v", Registry.REG_LINK, "a", false)));
    }

    static Arguments failure(String message, Executable call) {
        return Arguments.of(message, call);
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("failures")
    void failuresRaiseTheirMessage(String message, Executable call) {
        assertEquals(message, assertThrows(RegistryException.class, call).getMessage());
    }

    @Test
    void valueOfAnUnsupportedTypeRaises() throws Exception {
        String key = "HKCU\\" + KEY;
        Process reg = new ProcessBuilder("reg", "add", key, "/v", "list", "/t", "REG_MULTI_SZ", "/d", "a\\0b", "/f")
                .redirectErrorStream(true).start();
        reg.getInputStream().transferTo(System.out);
        assertEquals(0, reg.waitFor());
        assertEquals(Registry.REG_MULTI_SZ, Registry.keyGetValueType(HKCU, KEY, "list"));
        RegistryException raised = assertThrows(RegistryException.class, () -> Registry.keyGetValue(HKCU, KEY, "list"));
        assertEquals("Unsupported data type", raised.getMessage());
    }

    static Stream<Arguments> nullArguments() {
        return Stream.of(
                row(-1, () -> Registry.keyCreate(HKCU, null)),
                row(-1, () -> Registry.keyDelete(HKCU, null, true)),
                row(false, () -> Registry.keyExists(HKCU, null)),
                row(false, () -> Registry.keyHasSubKeys(HKCU, null)),
                row(false, () -> Registry.keyHasValues(HKCU, null)),
                row(false, () -> Registry.keyHasValue(HKCU, null, "v")),
                row(false, () -> Registry.keyHasValue(HKCU, KEY, null)),
                row(-1, () -> Registry.keyGetValueType(HKCU, null, "v")),
                row(-1, () -> Registry.keyGetValueType(HKCU, KEY, null)),
                row(null, () -> Registry.keyGetValue(HKCU, null, "v")),
                row(null, () -> Registry.keyGetValue(HKCU, KEY, null)),
                row(null, () -> {
                    Registry.keyDeleteValue(HKCU, null, "v", true);
                    Registry.keyDeleteValue(HKCU, KEY, null, true);
                    Registry.keySetValue(HKCU, null, "v", Registry.REG_SZ, "x", true);
                    Registry.keySetValue(HKCU, KEY, null, Registry.REG_SZ, "x", true);
                    boolean written = Registry.keyHasValue(HKCU, KEY, "v") || Registry.keyHasValue(HKCU, KEY, "");
                    return written ? "written" : null;
                }));
    }

    static Arguments row(Object expected, Callable<Object> call) {
        return Arguments.of(expected, call);
    }

    @ParameterizedTest
    @MethodSource("nullArguments")
    void nullArgumentsGiveTheirResult(Object expected, Callable<Object> call) throws Exception {
        assertEquals(expected, call.call());
    }

    @Test
    void threadsReadAtOnce() throws Exception {
        Registry.keySetValue(HKCU, KEY, "shared", Registry.REG_SZ, "read by many", false);
        Registry.keySetValue(HKCU, KEY, "large", Registry.REG_BINARY, LARGE, false);
        ExecutorService threads = Executors.newFixedThreadPool(8);
        List<Future<Integer>> results = new ArrayList<>();
        for (int t = 0; t < 8; t++) {
            results.add(threads.submit(() -> {
                int matches = 0;
                for (int i = 0; i < 200; i++) {
                    boolean same = "read by many".equals(Registry.keyGetValue(HKCU, KEY, "shared"))
                            && Arrays.equals(LARGE, (byte[]) Registry.keyGetValue(HKCU, KEY, "large"));
                    matches += same ? 1 : 0;
                }
                return matches;
            }));
        }
        for (Future<Integer> result : results) {
            assertEquals(200, result.get());
        }
        threads.shutdown();
    }
}

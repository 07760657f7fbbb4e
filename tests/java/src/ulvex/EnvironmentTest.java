package ulvex;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;

import com.ulvex.kesp.tavik.common.win32.Environment;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;

@Tag("text")
class EnvironmentTest {
    @ParameterizedTest
    @ValueSource(strings = {"SystemRoot", "PATH", "windir", "ULVEXWIN64_UNDEFINED", "ULVEX_TEXT"})
    void readsWhatTheProcessHolds(String name) {
        assertEquals(System.getenv(name), Environment.getEnvironmentVariable(name));
    }

    /** The suite's own settings, which the rows above rely on. */
    @Test
    void runsUnderTheSuitesCodePageAndTexts() {
        assertEquals(System.getenv("ULVEX_NATIVE_ENCODING"), System.getProperty("native.encoding"));
        assertEquals(Suite.TEXT, System.getenv("ULVEX_TEXT"));
    }

    /** A name holding U+0000 would reach another variable ("SystemRoot"): refused as a null one. */
    @ParameterizedTest
    @ValueSource(strings = {"SystemRoot\u0000", "SystemRoot\u0000x"})
    void nullOrU0000NameGivesNull(String name) {
        assertNull(Environment.getEnvironmentVariable(null));
        assertNull(Environment.getEnvironmentVariable(name));
    }
}

package ulvex;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;

import com.ulvex.kesp.tavik.common.win32.Environment;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;

class EnvironmentTest {
    @ParameterizedTest
    @ValueSource(strings = {"SystemRoot", "PATH", "windir", "ULVEXWIN64_UNDEFINED"})
    void readsWhatTheProcessHolds(String name) {
        assertEquals(System.getenv(name), Environment.getEnvironmentVariable(name));
    }

    @Test
    void nullNameGivesNull() {
        assertNull(Environment.getEnvironmentVariable(null));
    }
}

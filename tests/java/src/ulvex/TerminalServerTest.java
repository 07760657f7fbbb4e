package ulvex;

import static org.junit.jupiter.api.Assertions.assertEquals;

import com.ulvex.kesp.tavik.common.win32.TerminalServer;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;

/**
 * The session queries answered by the suite's stand-in for wtsapi32.dll, which the suite's agent
 * hands to the library as it loads, and which answers session 7 and the client name of this
 * process's environment (tests/java/CMakeLists.txt), a text beyond ASCII.
 */
@Tag("text")
class TerminalServerTest {
    static List<Object> sessionFacts() {
        return Arrays.asList(
                TerminalServer.isTerminalServer(), TerminalServer.getSessionId(), TerminalServer.getClientName());
    }

    @Test
    void everyThreadSeesTheStandInsSession() throws Exception {
        List<Object> facts = sessionFacts();
        System.out.println("terminal server, session id, client name: " + facts);
        assertEquals(Arrays.asList(7, System.getenv("WTS_DOUBLE_CLIENT_NAME")), facts.subList(1, 3));
        assertEquals(Suite.TEXT, facts.get(2));
        assertEquals(Collections.nCopies(8, facts), Suite.onEightThreads(TerminalServerTest::sessionFacts));
    }
}

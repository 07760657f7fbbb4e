package ulvex;

import static org.junit.jupiter.api.Assertions.assertEquals;

import com.ulvex.kesp.tavik.common.win32.TerminalServer;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import org.junit.jupiter.api.Test;

class TerminalServerTest {
    static List<Object> sessionFacts() {
        return Arrays.asList(
                TerminalServer.isTerminalServer(), TerminalServer.getSessionId(), TerminalServer.getClientName());
    }

    @Test
    void everyThreadSeesTheSameSession() throws Exception {
        List<Object> facts = sessionFacts();
        System.out.println("terminal server, session id, client name: " + facts);
        assertEquals(Collections.nCopies(8, facts), Suite.onEightThreads(TerminalServerTest::sessionFacts));
    }
}

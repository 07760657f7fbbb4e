package ulvex;

import static org.junit.jupiter.api.Assertions.assertEquals;

import com.ulvex.kesp.tavik.common.win32.TerminalServer;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.Callable;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import org.junit.jupiter.api.Test;

class TerminalServerTest {
    static List<Object> sessionFacts() {
        return Arrays.asList(
                TerminalServer.isTerminalServer(), TerminalServer.getSessionId(), TerminalServer.getClientName());
    }

    @Test
    void everyThreadSeesTheSameSession() throws Exception {
        List<Object> expected = sessionFacts();
        System.out.println("terminal server, session id, client name: " + expected);
        List<Callable<List<Object>>> askers = new ArrayList<>();
        for (int t = 0; t < 8; t++) {
            askers.add(TerminalServerTest::sessionFacts);
        }
        ExecutorService threads = Executors.newFixedThreadPool(8);
        for (Future<List<Object>> facts : threads.invokeAll(askers)) {
            assertEquals(expected, facts.get());
        }
        threads.shutdown();
    }
}

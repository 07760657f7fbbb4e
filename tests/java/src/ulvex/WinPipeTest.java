package ulvex;

import static java.nio.charset.StandardCharsets.US_ASCII;
import static java.util.concurrent.TimeUnit.SECONDS;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ulvex.kesp.tavik.common.communication.win32.WinPipe;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.Callable;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

class WinPipeTest {
    static final int PIPE_ACCESS_DUPLEX = 3;
    static final int GENERIC_READ_WRITE = 0xC0000000;
    static final ExecutorService THREADS = Executors.newCachedThreadPool();

    /** The server and client ends of a new pipe, the server connected from another thread. */
    static int[] connectedPair() throws Exception {
        String name = Unique.name("\\\\.\\pipe\\");
        int server = WinPipe.createNamedPipe(name, PIPE_ACCESS_DUPLEX, 1, 4096, 4096, 0);
        assertNotEquals(-1, server);
        Future<Integer> connected = THREADS.submit(() -> WinPipe.connectNamedPipe(server));
        assertTrue(WinPipe.waitForPipe(name, 5000));
        int client = WinPipe.createFile(name, GENERIC_READ_WRITE);
        assertNotEquals(-1, client);
        assertEquals(1, connected.get(10, SECONDS));
        return new int[] {server, client};
    }

    static void close(int[] pair) {
        assertNotEquals(0, WinPipe.flushFileBuffers(pair[0]));
        assertNotEquals(0, WinPipe.disconnect(pair[0]));
        assertNotEquals(0, WinPipe.closeHandle(pair[0]));
        assertNotEquals(0, WinPipe.closeHandle(pair[1]));
    }

    static byte[] read(int handle, int count) {
        byte[] buffer = new byte[count];
        int delivered = WinPipe.read(handle, buffer, count);
        assertTrue(delivered >= 0, "read failed");
        return Arrays.copyOf(buffer, delivered);
    }

    @AfterAll
    static void stopThreads() {
        THREADS.shutdown();
    }

    @Test
    void messagesBothWays() throws Exception {
        int[] pair = connectedPair();
        byte[] ping = "ping".getBytes(US_ASCII);
        assertEquals(4, WinPipe.write(pair[1], ping, 4));
        assertArrayEquals(ping, read(pair[0], 100));
        byte[] large = new byte[100_000];
        Arrays.fill(large, (byte) 'x');
        Future<Integer> written = THREADS.submit(() -> WinPipe.write(pair[0], large, large.length));
        assertArrayEquals(large, read(pair[1], large.length));
        assertEquals(large.length, written.get(10, SECONDS));
        close(pair);
    }

    @Test
    void longMessageArrivesInPieces() throws Exception {
        int[] pair = connectedPair();
        byte[] message = "0123456789".getBytes(US_ASCII);
        Future<Integer> written = THREADS.submit(() -> WinPipe.write(pair[0], message, 10));
        byte[] buffer = "abcdef".getBytes(US_ASCII);
        assertEquals(4, WinPipe.read(pair[1], buffer, 4));
        assertEquals("0123ef", new String(buffer, US_ASCII));
        assertArrayEquals("4567".getBytes(US_ASCII), read(pair[1], 4));
        assertArrayEquals("89".getBytes(US_ASCII), read(pair[1], 4));
        assertEquals(10, written.get(10, SECONDS));
        close(pair);
    }

    @ParameterizedTest(name = "{0}")
    @CsvSource({"createNamedPipe, -1", "createFile, -1", "waitForPipe, 0", "read, -1", "write, 0"})
    void nullArgumentsGiveTheirResult(String call, int expected) throws Exception {
        int[] pair = connectedPair();
        int result;
        switch (call) {
            case "createNamedPipe":
                result = WinPipe.createNamedPipe(null, PIPE_ACCESS_DUPLEX, 1, 0, 0, 0);
                break;
            case "createFile":
                result = WinPipe.createFile(null, GENERIC_READ_WRITE);
                break;
            case "waitForPipe":
                result = WinPipe.waitForPipe(null, 0) ? 1 : 0;
                break;
            case "read":
                result = WinPipe.read(pair[0], null, 0);
                break;
            default:
                result = WinPipe.write(pair[0], null, 0);
        }
        assertEquals(expected, result);
        assertEquals(1, WinPipe.write(pair[1], new byte[] {7}, 1), "the pipe is still usable");
        assertArrayEquals(new byte[] {7}, read(pair[0], 1));
        close(pair);
    }

    @Test
    void pairsOnEightThreadsAtOnce() throws Exception {
        List<Callable<Integer>> conversations = new ArrayList<>();
        for (int t = 0; t < 8; t++) {
            conversations.add(() -> {
                int[] pair = connectedPair();
                int answered = 0;
                for (int i = 0; i < 50; i++) {
                    byte[] question = ("question " + i).getBytes(US_ASCII);
                    WinPipe.write(pair[1], question, question.length);
                    byte[] received = read(pair[0], 64);
                    WinPipe.write(pair[0], received, received.length);
                    answered += Arrays.equals(question, read(pair[1], 64)) ? 1 : 0;
                }
                close(pair);
                return answered;
            });
        }
        ExecutorService threads = Executors.newFixedThreadPool(8);
        for (Future<Integer> answered : threads.invokeAll(conversations)) {
            assertEquals(50, answered.get());
        }
        threads.shutdown();
    }
}

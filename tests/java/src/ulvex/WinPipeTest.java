package ulvex;

import static java.nio.charset.StandardCharsets.US_ASCII;
import static java.nio.charset.StandardCharsets.UTF_8;
import static java.util.concurrent.TimeUnit.SECONDS;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ulvex.kesp.tavik.common.communication.win32.WinPipe;
import java.io.RandomAccessFile;
import java.util.Arrays;
import java.util.Collections;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;

class WinPipeTest {
    static final int PIPE_ACCESS_DUPLEX = 3;
    static final int GENERIC_READ_WRITE = 0xC0000000;
    static final ExecutorService THREADS = Executors.newCachedThreadPool();

    @AfterAll
    static void stopThreads() {
        THREADS.shutdown();
    }

    /** The server and client ends of a new pipe, the server connected on another thread. */
    static int[] connectedPair() throws Exception {
        String name = Suite.uniqueName("\\\\.\\pipe\\");
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

    /** One message from one end to the other, as it arrived. */
    static byte[] send(int from, int to, byte[] message) throws Exception {
        Future<Integer> written = THREADS.submit(() -> WinPipe.write(from, message, message.length));
        byte[] received = read(to, message.length);
        assertEquals(message.length, written.get(10, SECONDS));
        return received;
    }

    @Test
    void messagesBothWays() throws Exception {
        int[] pair = connectedPair();
        byte[] ping = "ping".getBytes(US_ASCII);
        assertArrayEquals(ping, send(pair[1], pair[0], ping));
        byte[] large = new byte[100_000];
        Arrays.fill(large, (byte) 'x');
        assertArrayEquals(large, send(pair[0], pair[1], large));
        close(pair);
    }

    @Test
    void longMessageArrivesInPieces() throws Exception {
        int[] pair = connectedPair();
        Future<Integer> written = THREADS.submit(() -> WinPipe.write(pair[0], "0123456789".getBytes(US_ASCII), 10));
        byte[] buffer = "abcdef".getBytes(US_ASCII);
        assertEquals(4, WinPipe.read(pair[1], buffer, 4));
        assertEquals("0123ef", new String(buffer, US_ASCII));
        assertArrayEquals("4567".getBytes(US_ASCII), read(pair[1], 4));
        assertArrayEquals("89".getBytes(US_ASCII), read(pair[1], 4));
        assertEquals(10, written.get(10, SECONDS));
        close(pair);
    }

    /** Java's own RandomAccessFile opens the pipe by the name the library made it under. */
    @Tag("text")
    @ParameterizedTest
    @ValueSource(strings = {"", Suite.TEXT})
    void javaOpensThePipeByItsName(String suffix) throws Exception {
        String name = Suite.uniqueName("\\\\.\\pipe\\") + suffix;
        int server = WinPipe.createNamedPipe(name, PIPE_ACCESS_DUPLEX, 1, 4096, 4096, 0);
        assertNotEquals(-1, server);
        Future<Integer> connected = THREADS.submit(() -> WinPipe.connectNamedPipe(server));
        try (RandomAccessFile client = new RandomAccessFile(name, "rw")) {
            assertEquals(1, connected.get(10, SECONDS));
            client.write(name.getBytes(UTF_8));
            assertEquals(name, new String(read(server, 4096), UTF_8));
        }
        assertNotEquals(0, WinPipe.closeHandle(server));
    }

    /** Null names, and names holding U+0000, which would reach the pipe of the name before it. */
    @Tag("text")
    @Test
    void nullArgumentsGiveTheirResult() throws Exception {
        assertEquals(-1, WinPipe.createNamedPipe(null, PIPE_ACCESS_DUPLEX, 1, 0, 0, 0));
        assertEquals(-1, WinPipe.createFile(null, GENERIC_READ_WRITE));
        assertFalse(WinPipe.waitForPipe(null, 0));
        String free = Suite.uniqueName("\\\\.\\pipe\\");
        assertEquals(-1, WinPipe.createNamedPipe(free + "\u0000x", PIPE_ACCESS_DUPLEX, 1, 0, 0, 0));
        assertFalse(WinPipe.waitForPipe(free, 0), "no pipe made under the name before U+0000");
        String taken = Suite.uniqueName("\\\\.\\pipe\\");
        int server = WinPipe.createNamedPipe(taken, PIPE_ACCESS_DUPLEX, 1, 0, 0, 0);
        assertFalse(WinPipe.waitForPipe(taken + "\u0000x", 0));
        assertEquals(-1, WinPipe.createFile(taken + "\u0000x", GENERIC_READ_WRITE));
        assertNotEquals(0, WinPipe.closeHandle(server));
        int[] pair = connectedPair();
        assertEquals(-1, WinPipe.read(pair[0], null, 0));
        assertEquals(0, WinPipe.write(pair[1], null, 0));
        assertArrayEquals(new byte[] {7}, send(pair[1], pair[0], new byte[] {7}), "the pipe is untouched");
        close(pair);
    }

    @Test
    void eightPairsAtOnce() throws Exception {
        assertEquals(Collections.nCopies(8, 50), Suite.onEightThreads(() -> {
            int[] pair = connectedPair();
            int answered = 0;
            for (int i = 0; i < 50; i++) {
                byte[] question = ("question " + i).getBytes(US_ASCII);
                byte[] answer = send(pair[0], pair[1], send(pair[1], pair[0], question));
                answered += Arrays.equals(question, answer) ? 1 : 0;
            }
            close(pair);
            return answered;
        }));
    }
}

package ulvex;

import java.util.concurrent.atomic.AtomicInteger;

/**
 * Names of the suite's own keys, pipes, windows and files. Not from UUID: Java 21 seeds
 * SecureRandom from the network interfaces, which crashes it under Wine 8.
 */
final class Unique {
    private static final AtomicInteger COUNT = new AtomicInteger();

    private Unique() {}

    static String name(String prefix) {
        return prefix + "ulvexwin64-java-" + ProcessHandle.current().pid() + "-" + System.nanoTime()
                + "-" + COUNT.incrementAndGet();
    }
}

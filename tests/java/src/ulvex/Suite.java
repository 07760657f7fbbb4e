package ulvex;

import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.concurrent.Callable;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.atomic.AtomicInteger;

final class Suite {
    private static final AtomicInteger COUNT = new AtomicInteger();

    /**
     * A text beyond ASCII: Latin-1 whose UTF-8 bytes run from 0x80 to 0xBF, Cyrillic, CJK and a
     * supplementary character. The suite also sets it in the environment as ULVEX_TEXT and as the
     * session stand-in's client name (tests/java/CMakeLists.txt).
     */
    static final String TEXT = "5°C, 100 €, ©2024 Acme, Пётр, 東京, 😀";

    private Suite() {}

    /**
     * A name for the suite's own keys, pipes, windows and files. Not from UUID: seeding
     * SecureRandom reads the network interfaces, which crashes Java under Wine 8.
     */
    static String uniqueName(String prefix) {
        return prefix + "ulvexwin64-java-" + System.currentTimeMillis() + "-" + ProcessHandle.current().pid()
                + "-" + COUNT.incrementAndGet();
    }

    /** Runs the task on eight threads at once; each thread's answer. */
    static <T> List<T> onEightThreads(Callable<T> task) throws Exception {
        ExecutorService threads = Executors.newFixedThreadPool(8);
        try {
            List<T> answers = new ArrayList<>();
            for (Future<T> answer : threads.invokeAll(Collections.nCopies(8, task))) {
                answers.add(answer.get());
            }
            return answers;
        } finally {
            threads.shutdown();
        }
    }
}

package ulvex;

import static java.util.concurrent.TimeUnit.SECONDS;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ulvex.kesp.tavik.common.win32.Environment;
import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.lang.management.ManagementFactory;
import java.lang.ref.WeakReference;
import java.lang.reflect.Method;
import java.net.URL;
import java.net.URLClassLoader;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;
import org.junit.jupiter.api.Test;

class ClassLoaderTest {
    /** A loader of the shipped jar alone, which asks no other loader for its classes. */
    static URLClassLoader jarLoader() throws Exception {
        return new URLClassLoader(new URL[] {Paths.get(System.getProperty("ulvex.jar")).toUri().toURL()}, null);
    }

    /** Calls a static method of one of the jar's classes as that loader defines it. */
    static Object call(ClassLoader loader, String className, String method, Object... arguments) throws Exception {
        String name = "com.ulvex.kesp.tavik.common.win32." + className;
        for (Method candidate : Class.forName(name, true, loader).getMethods()) {
            if (candidate.getName().equals(method)) {
                return candidate.invoke(null, arguments);
            }
        }
        throw new NoSuchMethodException(name + "." + method);
    }

    @Test
    void libraryBelongsToOneLoaderAtATime() throws Exception {
        assertNotNull(Environment.getEnvironmentVariable("SystemRoot"));
        try (URLClassLoader other = jarLoader()) {
            UnsatisfiedLinkError refused = assertThrows(UnsatisfiedLinkError.class,
                    () -> call(other, "Environment", "getEnvironmentVariable", "SystemRoot"));
            assertTrue(refused.getMessage().contains("already loaded in another classloader"), refused.getMessage());
        }
    }

    /** Runs {@link Cycles} in a virtual machine of its own, whose log tells loads and unloads. */
    @Test
    void libraryFollowsItsClassLoader() throws Exception {
        List<String> command = new ArrayList<>();
        command.add(Paths.get(System.getProperty("java.home"), "bin", "java.exe").toString());
        command.addAll(ManagementFactory.getRuntimeMXBean().getInputArguments());
        command.add("-Xlog:library=info");
        command.add("-cp");
        command.add(Paths.get(Cycles.class.getProtectionDomain().getCodeSource().getLocation().toURI()).toString());
        command.add(Cycles.class.getName());
        Process cycles = new ProcessBuilder(command).redirectErrorStream(true).start();
        List<String> log = new ArrayList<>();
        BufferedReader output = new BufferedReader(new InputStreamReader(cycles.getInputStream()));
        for (String line = output.readLine(); line != null; line = output.readLine()) {
            System.out.println(line);
            log.add(line);
            if (log.stream().filter(entry -> entry.contains("Unloaded library")).count() == 3) {
                cycles.getOutputStream().close();
            }
        }
        assertTrue(cycles.waitFor(300, SECONDS));
        assertEquals(0, cycles.exitValue());
        assertEquals(3, log.stream().filter(line -> line.matches(".*Loaded library .*ulvexwin64.dll.*")).count());
        assertEquals(3, log.stream().filter(line -> line.contains("Unloaded library")).count());
    }

    /** Three times: the library loaded through a new loader, used, and unloaded with it. */
    static final class Cycles {
        public static void main(String[] arguments) throws Exception {
            for (int cycle = 1; cycle <= 3; cycle++) {
                WeakReference<ClassLoader> used = new WeakReference<>(useInNewLoader());
                for (int collections = 0; used.get() != null; collections++) {
                    if (collections == 100) {
                        throw new AssertionError("the loader of cycle " + cycle + " was not collected");
                    }
                    System.gc();
                    Thread.sleep(50);
                }
                System.out.println("cycle " + cycle + ": loader collected");
            }
            awaitEndOfInput();
        }

        /**
         * The collector's cleaner unloads the last loader's library a moment after the loader is
         * collected: the test closes standard input once the log shows it, else a minute ends the
         * wait.
         */
        static void awaitEndOfInput() throws InterruptedException {
            Thread reader = new Thread(() -> {
                try {
                    System.in.read();
                } catch (IOException closed) {
                    return;
                }
            });
            reader.setDaemon(true);
            reader.start();
            reader.join(60_000);
        }

        /** The last loader's library may wait a moment to be unloaded: until then, none loads. */
        static ClassLoader useInNewLoader() throws Exception {
            for (int attempt = 1; ; attempt++) {
                try (URLClassLoader loader = jarLoader()) {
                    use(loader);
                    return loader;
                } catch (UnsatisfiedLinkError stillLoaded) {
                    if (attempt == 20) {
                        throw stillLoaded;
                    }
                    Thread.sleep(100);
                }
            }
        }

        static void use(ClassLoader loader) throws Exception {
            Object root = call(loader, "Environment", "getEnvironmentVariable", "SystemRoot");
            int window = (Integer) call(loader, "Window", "createWindow", "cycle", "UlvexJavaCycle", 0, 0, 0, 0, 9, 9);
            if (!System.getenv("SystemRoot").equals(root) || window <= 0) {
                throw new AssertionError("SystemRoot " + root + ", window " + window);
            }
            call(loader, "Window", "destroyWindow", window);
        }
    }
}

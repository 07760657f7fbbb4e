package ulvex;

import static java.nio.ByteOrder.LITTLE_ENDIAN;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.params.provider.Arguments.arguments;

import com.ulvex.kesp.tavik.common.win32.Win32File;
import com.ulvex.kesp.tavik.common.win32.Window;
import java.io.ByteArrayInputStream;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.Comparator;
import java.util.stream.Stream;
import mslinks.ShellLink;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;
import org.junit.jupiter.params.provider.ValueSource;

class DesktopTest {
    static final int SW_HIDE = 0;
    static final int SW_SHOW = 5;
    static final Path LINKS = Paths.get(System.getProperty("java.io.tmpdir"), Suite.uniqueName(""));

    @BeforeAll
    static void createLinkDirectory() throws IOException {
        Files.createDirectories(LINKS);
    }

    /** Wine's shell may still be reading a new shortcut for a moment ("Sharing violation"). */
    @AfterAll
    static void deleteLinks() throws Exception {
        try (Stream<Path> links = Files.walk(LINKS)) {
            for (Path link : (Iterable<Path>) links.sorted(Comparator.reverseOrder())::iterator) {
                for (int attempt = 1; !link.toFile().delete(); attempt++) {
                    assertTrue(attempt < 50, "cannot delete " + link);
                    Thread.sleep(100);
                }
            }
        }
    }

    @Test
    void windowShownAndHidden() {
        int window = Window.createWindow("ulvexwin64 java", Suite.uniqueName("Class-"), 0, 0, 10, 10, 200, 100);
        assertTrue(window > 0, "window " + window);
        assertFalse(Window.showWindow(window, SW_SHOW), "hidden at first");
        assertTrue(Window.showWindow(window, SW_HIDE), "was shown");
        assertFalse(Window.showWindow(window, SW_HIDE), "was hidden");
        Window.destroyWindow(window);
        assertFalse(Window.showWindow(window, SW_SHOW), "destroyed");
    }

    /** Null names, and names holding U+0000, which Windows would read shorter. */
    @Tag("text")
    @Test
    void windowNullArguments() {
        assertEquals(-1, Window.createWindow(null, "UlvexJava", 0, 0, 0, 0, 10, 10));
        assertEquals(-1, Window.createWindow("ulvexwin64 java", null, 0, 0, 0, 0, 10, 10));
        assertEquals(-1, Window.createWindow("ulvexwin64\u0000java", "UlvexJava", 0, 0, 0, 0, 10, 10));
        assertEquals(-1, Window.createWindow("ulvexwin64 java", "UlvexJava\u0000x", 0, 0, 0, 0, 10, 10));
        assertFalse(Window.showWindow(0, SW_SHOW));
        Window.destroyWindow(0);
    }

    /**
     * 1 SW_SHOWNORMAL, 3 SW_SHOWMAXIMIZED, 7 SW_SHOWMINNOACTIVE; the last into a folder this
     * program made under a name beyond ASCII, with texts beyond ASCII.
     */
    static Stream<Arguments> shortcuts() {
        return Stream.of(
                arguments(1, "", "Opens notepad"),
                arguments(3, "", "Opens notepad"),
                arguments(7, Suite.TEXT, Suite.TEXT));
    }

    @Tag("text")
    @ParameterizedTest
    @MethodSource("shortcuts")
    void shortcutReadBackByMslinks(int showCommand, String folder, String text) throws Exception {
        Path directory = Files.createDirectories(LINKS.resolve(folder));
        Path link = directory.resolve(showCommand + " " + text + ".lnk");
        String target = System.getenv("SystemRoot") + "\\notepad.exe";
        String arguments = "-a \"" + text + "\"";
        assertEquals(0, Win32File.winCreateShortcut(
                target, arguments, link.toString(), text, directory.toString(), showCommand));
        byte[] file = Files.readAllBytes(link);
        ShellLink read = withoutIdList(file);
        assertEquals(target.toLowerCase(), read.resolveTarget().toLowerCase());
        assertEquals(arguments, text(read.getCMDArgs()));
        assertEquals(text, text(read.getName()));
        assertEquals(directory.toString(), text(read.getWorkingDir()));
        // The header's ShowCommand field, at offset 0x3C.
        int stored = ByteBuffer.wrap(file).order(LITTLE_ENDIAN).getInt(0x3C);
        assertEquals(stored, read.getHeader().getShowCommand());
        assertEquals(showCommand, stored);
    }

    /**
     * The shortcut without its target ID list, whose file items Wine writes with an extension
     * block that mslinks cannot read. The target is read from the link information instead.
     */
    static ShellLink withoutIdList(byte[] file) throws Exception {
        ByteBuffer header = ByteBuffer.wrap(file).order(LITTLE_ENDIAN);
        int flags = header.getInt(0x14);
        assertEquals(1, flags & 1, "has a target ID list");
        int listEnd = 0x4E + Short.toUnsignedInt(header.getShort(0x4C));
        ByteArrayOutputStream stripped = new ByteArrayOutputStream();
        stripped.write(file, 0, 0x4C);
        stripped.write(file, listEnd, file.length - listEnd);
        byte[] bytes = stripped.toByteArray();
        ByteBuffer.wrap(bytes).order(LITTLE_ENDIAN).putInt(0x14, flags & ~1);
        return new ShellLink(new ByteArrayInputStream(bytes));
    }

    /** Wine counts each string's terminating NUL into the file; Windows does not. */
    static String text(String stored) {
        return stored.endsWith("\0") ? stored.substring(0, stored.length() - 1) : stored;
    }

    /** A null string, or one holding U+0000 (the link path would be saved shorter), in each field. */
    @Tag("text")
    @ParameterizedTest
    @ValueSource(ints = {0, 1, 2, 3, 4})
    void shortcutNullOrU0000ArgumentsGive87(int field) {
        String[] strings = {"C:\\windows\\notepad.exe", "", LINKS.resolve("null.lnk").toString(), "", ""};
        for (String refused : new String[] {null, strings[field] + "\u0000x"}) {
            String[] call = strings.clone();
            call[field] = refused;
            assertEquals(87, Win32File.winCreateShortcut(call[0], call[1], call[2], call[3], call[4], 1));
            assertFalse(Files.exists(LINKS.resolve("null.lnk")));
        }
    }
}

import com.ulvex.kesp.tavik.common.communication.win32.WinPipe;
import com.ulvex.kesp.tavik.common.win32.Environment;
import com.ulvex.kesp.tavik.common.win32.Registry;
import com.ulvex.kesp.tavik.common.win32.TerminalServer;
import com.ulvex.kesp.tavik.common.win32.Win32File;
import com.ulvex.kesp.tavik.common.win32.Window;
import java.io.File;
import java.io.FileDescriptor;
import java.io.FileOutputStream;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.util.Arrays;

/** Calls each family of ulvexwin64.dll once through the jar and prints what it saw. */
public final class Probe {
    public static void main(String[] args) throws Exception {
        System.out.println("java: " + System.getProperty("java.vm.name") + " "
                + System.getProperty("java.runtime.version"));
        System.out.println("environment: SystemRoot = "
                + Environment.getEnvironmentVariable("SystemRoot"));
        // Printed as UTF-8, which reaches the terminal as it stands: the console's code page
        // would show most of the text as "?".
        String expected = System.getenv("ULVEX_PROBE_TEXT");
        String read = Environment.getEnvironmentVariable("ULVEX_PROBE_TEXT");
        System.out.flush();
        PrintStream utf8 = new PrintStream(new FileOutputStream(FileDescriptor.out), true, "UTF-8");
        utf8.println("text: System.getenv " + expected + ", Environment " + read + ": "
                + (expected != null && expected.equals(read) ? "same" : "differs"));

        int user = Registry.HKEY_CURRENT_USER;
        String key = "Software\\UlvexJavaProbe-" + System.nanoTime();
        Registry.keyCreate(user, key);
        Registry.keySetValue(user, key, "text", Registry.REG_SZ, "written by Java", false);
        Registry.keySetValue(user, key, "number", Registry.REG_DWORD, 42, false);
        System.out.println("registry: " + Registry.keyGetValue(user, key, "text") + ", "
                + Registry.keyGetValue(user, key, "number") + ", key deleted: "
                + Registry.keyDelete(user, key, false));

        String name = "\\\\.\\pipe\\ulvex-java-probe-" + System.nanoTime();
        int server = WinPipe.createNamedPipe(name, 3, 1, 4096, 4096, 1000);
        int client = WinPipe.createFile(name, 0xC0000000);
        byte[] message = "hello through a pipe".getBytes(StandardCharsets.US_ASCII);
        WinPipe.write(client, message, message.length);
        byte[] received = new byte[64];
        int count = WinPipe.read(server, received, received.length);
        System.out.println("pipe: " + new String(Arrays.copyOf(received, Math.max(count, 0)),
                StandardCharsets.US_ASCII));
        WinPipe.closeHandle(client);
        WinPipe.closeHandle(server);

        System.out.println("session: terminal server " + TerminalServer.isTerminalServer()
                + ", session " + TerminalServer.getSessionId() + ", client "
                + TerminalServer.getClientName());

        int window = Window.createWindow("Ulvex Java probe", "UlvexJavaProbe", 0, 0, 0, 0, 80, 60);
        System.out.println("window: handle " + (window != 0 && window != -1 ? "made" : window)
                + ", shown " + Window.showWindow(window, 5) + ", hidden "
                + Window.showWindow(window, 0));
        Window.destroyWindow(window);

        File link = new File(System.getProperty("java.io.tmpdir"), "ulvex-java-probe.lnk");
        int written = Win32File.winCreateShortcut("C:\\windows\\notepad.exe", "probe.txt",
                link.getPath(), "Ulvex Java probe", "C:\\windows", 1);
        System.out.println("shortcut: result " + written + ", " + link.length() + " bytes");
        link.delete();
    }
}

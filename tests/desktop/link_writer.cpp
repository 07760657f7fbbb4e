// Writes one shortcut through the library, for an independent reader to check:
//   link_writer.exe LINK_PATH
// Prints and returns the export's result.
#include <com_ulvex_kesp_tavik_common_win32_Win32File.h>

#include <cstdio>

#include "jni_host.h"
#include "library.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: link_writer LINK_PATH\n");
        return 2;
    }
    jnitest::Library library;
    jnitest::JniHost host;
    auto* createShortcut =
        library.get<decltype(Java_com_ulvex_kesp_tavik_common_win32_Win32File_winCreateShortcut)>(
            "Java_com_ulvex_kesp_tavik_common_win32_Win32File_winCreateShortcut");
    jint result = host.call(
        createShortcut, host.string("C:\\windows\\notepad.exe"), host.string("--ulvex-args 42"),
        host.string(argv[1]),
        host.string(
            u8"Ulvex independent check 5\u00b0C 100 \u20ac \u041f\u0451\u0442\u0440 \u6771\u4eac"),
        host.string("C:\\windows\\system32"), SW_SHOWMINNOACTIVE);
    std::printf("%d\n", static_cast<int>(result));
    return result;
}

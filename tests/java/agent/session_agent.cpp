// A JVM agent of the Java suite, given as -agentpath:<this DLL>=<path of wts_double.dll>. It hands
// the suite's stand-in for "wtsapi32.dll" to the library's session loader, as the C++ session
// tests do: the loader runs while the library loads, and the agent is loaded before any class,
// so TerminalServer answers what the stand-in answers whichever test first loads the library.
#include <jni.h>
#include <windows.h>

#include <string>

#include "import_hook.h"
#include "load_interception.h"

namespace {

std::string standInPath;

// The loader's one LoadLibraryA call, for the system's "wtsapi32.dll", is answered with the
// stand-in.
HMODULE WINAPI loadStandIn(const char*) {
    return LoadLibraryA(standInPath.c_str());
}

void handOver(HMODULE library) {
    jnitest::redirectImport(library, "KERNEL32.dll", "LoadLibraryA",
                            reinterpret_cast<const void*>(&loadStandIn));
}

}  // namespace

extern "C" JNIEXPORT jint JNICALL Agent_OnLoad(JavaVM*, char* options, void*) {
    if (options == nullptr || GetFileAttributesA(options) == INVALID_FILE_ATTRIBUTES) {
        return JNI_ERR;
    }
    standInPath = options;
    // Kept for the life of the process.
    static jnitest::LoadInterception interception(L"ulvexwin64.dll", &handOver);
    return JNI_OK;
}

// A JVM agent of the Java suite, given as -agentpath:<this DLL>=<path of wts_double.dll>. It hands
// the suite's stand-in for "wtsapi32.dll" to the library's session loader, as the C++ session
// tests do: the loader runs while the library loads, and the agent is loaded before any class,
// so TerminalServer answers what the stand-in answers whichever test first loads the library.
#include <jni.h>
#include <windows.h>

#include <string>

#include "dll_notification.h"
#include "import_hook.h"

namespace {

std::string standInPath;

// The loader's one LoadLibraryA call, for the system's "wtsapi32.dll", is answered with the
// stand-in.
HMODULE WINAPI loadStandIn(const char*) {
    return LoadLibraryA(standInPath.c_str());
}

// Windows reports a mapped DLL, its imports bound, before it runs the DLL's initialisers.
VOID CALLBACK handOver(ULONG reason, const jnitest::DllNotification* data, void*) {
    if (reason == jnitest::dllLoaded && _wcsicmp(data->baseName->Buffer, L"ulvexwin64.dll") == 0) {
        jnitest::redirectImport(static_cast<HMODULE>(data->base), "KERNEL32.dll", "LoadLibraryA",
                                reinterpret_cast<const void*>(&loadStandIn));
    }
}

}  // namespace

extern "C" JNIEXPORT jint JNICALL Agent_OnLoad(JavaVM*, char* options, void*) {
    if (options == nullptr || GetFileAttributesA(options) == INVALID_FILE_ATTRIBUTES) {
        return JNI_ERR;
    }
    standInPath = options;
    auto registerNotification =
        reinterpret_cast<jnitest::RegisterNotification>(reinterpret_cast<void (*)()>(
            GetProcAddress(GetModuleHandleA("ntdll.dll"), "LdrRegisterDllNotification")));
    void* cookie = nullptr;
    return registerNotification(0, &handOver, nullptr, &cookie) == 0 ? JNI_OK : JNI_ERR;
}

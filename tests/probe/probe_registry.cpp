// The registry line of the probe: a scratch key below HKEY_CURRENT_USER is created, a value is
// written and read back, and the key is deleted again.
#include <com_ulvex_kesp_tavik_common_win32_Registry.h>

#include <cstdio>
#include <string>

#include "probe.h"

namespace {

constexpr jint currentUser = -2147483647;
constexpr char prefix[] = "Java_com_ulvex_kesp_tavik_common_win32_Registry_";

template <typename Function>
Function* registryExport(const jnitest::Library& library, const char* method) {
    return library.get<Function>((std::string(prefix) + method).c_str());
}

}  // namespace

void probeRegistry(jnitest::JniHost& host, const jnitest::Library& library) {
    auto keyCreate =
        registryExport<decltype(Java_com_ulvex_kesp_tavik_common_win32_Registry_keyCreate)>(
            library, "keyCreate");
    auto keySetValue =
        registryExport<decltype(Java_com_ulvex_kesp_tavik_common_win32_Registry_keySetValue)>(
            library, "keySetValue");
    auto keyGetValue =
        registryExport<decltype(Java_com_ulvex_kesp_tavik_common_win32_Registry_keyGetValue)>(
            library, "keyGetValue");
    auto keyDelete =
        registryExport<decltype(Java_com_ulvex_kesp_tavik_common_win32_Registry_keyDelete)>(
            library, "keyDelete");
    std::string path = "Software\\UlvexProbe-" + std::to_string(GetCurrentProcessId());
    jstring key = host.string(path);
    jint created = host.call(keyCreate, currentUser, key);
    host.call(keySetValue, currentUser, key, host.string("greeting"), jint{1}, host.string("hello"),
              jboolean{0});
    jobject read = host.call(keyGetValue, currentUser, key, host.string("greeting"));
    jint deleted = host.call(keyDelete, currentUser, key, jboolean{0});
    std::printf("registry: HKCU\\%s created %d, greeting read back as %s, deleted %d%s\n",
                path.c_str(), static_cast<int>(created),
                read != nullptr ? host.utf8(static_cast<jstring>(read)).c_str() : "(null)",
                static_cast<int>(deleted),
                host.exceptionPending() ? (", raised " + host.exceptionMessage()).c_str() : "");
}

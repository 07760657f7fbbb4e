// Per-call time of the registry reads and the environment lookup through the library, against
// the same Windows calls made directly, in one process and run. Each figure is the median of
// several repetitions; the ratio is library over direct.
#include <windows.h>

#include <com_ulvex_kesp_tavik_common_win32_Environment.h>
#include <com_ulvex_kesp_tavik_common_win32_Registry.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "jni_host.h"
#include "library.h"

namespace {

constexpr jint currentUser = -2147483647;
constexpr int repetitions = 9;

double microsecondsPerCall(int calls, const std::function<void()>& call) {
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    for (int i = 0; i < calls; ++i) {
        call();
    }
    QueryPerformanceCounter(&end);
    return 1e6 * static_cast<double>(end.QuadPart - start.QuadPart) /
           static_cast<double>(frequency.QuadPart) / calls;
}

double median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

// Alternates library and direct runs so that drift in the machine's load hits both alike.
void compare(const char* what, int calls, const std::function<void(jnitest::JniHost&)>& library,
             const std::function<void()>& direct) {
    std::vector<double> throughLibrary, made;
    for (int repetition = 0; repetition < repetitions; ++repetition) {
        jnitest::JniHost host;
        throughLibrary.push_back(microsecondsPerCall(calls, [&] { library(host); }));
        made.push_back(microsecondsPerCall(calls, direct));
    }
    double libraryTime = median(throughLibrary);
    double directTime = median(made);
    std::printf("%-34s library %8.3f us  direct %8.3f us  ratio %.3f\n", what, libraryTime,
                directTime, libraryTime / directTime);
}

// What keyGetValue asks of Windows for one value.
void readValueDirectly(const char* path, const char* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return;
    }
    DWORD type = 0;
    DWORD size = 0;
    RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
    BYTE* data = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, size + 1));
    RegQueryValueExA(key, name, nullptr, &type, data, &size);
    RegCloseKey(key);
    HeapFree(GetProcessHeap(), 0, data);
}

void keyExistsDirectly(const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        RegCloseKey(key);
    }
}

}  // namespace

int main() {
    jnitest::Library library;
    const char* prefix = "Java_com_ulvex_kesp_tavik_common_win32_";
    auto keyGetValue =
        library.get<decltype(Java_com_ulvex_kesp_tavik_common_win32_Registry_keyGetValue)>(
            (std::string(prefix) + "Registry_keyGetValue").c_str());
    auto keyExists =
        library.get<decltype(Java_com_ulvex_kesp_tavik_common_win32_Registry_keyExists)>(
            (std::string(prefix) + "Registry_keyExists").c_str());
    auto getEnvironmentVariable = library.get<
        decltype(Java_com_ulvex_kesp_tavik_common_win32_Environment_getEnvironmentVariable)>(
        (std::string(prefix) + "Environment_getEnvironmentVariable").c_str());

    std::string path = "Software\\UlvexRegistryBench-" + std::to_string(GetCurrentProcessId());
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                    nullptr);
    const char text[] = "C:\\Program Files\\Ulvex\\client";
    DWORD number = 42;
    RegSetValueExA(key, "text", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text);
    RegSetValueExA(key, "number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4);
    RegCloseKey(key);
    const char* subKey = path.c_str();

    compare(
        "keyGetValue REG_SZ", 2000,
        [&](jnitest::JniHost& host) {
            host.call(keyGetValue, currentUser, host.string(path), host.string("text"));
        },
        [&] { readValueDirectly(subKey, "text"); });
    compare(
        "keyGetValue REG_DWORD", 2000,
        [&](jnitest::JniHost& host) {
            host.call(keyGetValue, currentUser, host.string(path), host.string("number"));
        },
        [&] { readValueDirectly(subKey, "number"); });
    compare(
        "keyExists", 2000,
        [&](jnitest::JniHost& host) { host.call(keyExists, currentUser, host.string(path)); },
        [&] { keyExistsDirectly(subKey); });
    compare(
        "getEnvironmentVariable", 20000,
        [&](jnitest::JniHost& host) {
            host.call(getEnvironmentVariable, host.string("SystemRoot"));
        },
        [&] {
            char value[4096];
            GetEnvironmentVariableA("SystemRoot", value, sizeof value);
        });

    RegDeleteTreeA(HKEY_CURRENT_USER, path.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, path.c_str());
    return 0;
}

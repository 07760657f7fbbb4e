// Per-call time of the registry reads and the environment lookup through the library, against
// the same Windows calls made directly, in one process and run. Each figure is the median of
// several repetitions. Two ratios: library over the Windows calls alone, and library over the
// Windows calls plus the JNI operations the export asks of the (test) virtual machine, which
// leaves what the library's own code adds. Last, keyGetValue for a short text, a number and a
// value above what one query on the stack can take, against the two queries alone.
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

// The Java arguments of one measurement, made once per repetition outside the timed loop.
struct Arguments {
    jstring first;
    jstring second;
};

struct Measurement {
    const char* what;
    int calls;
    std::function<Arguments(jnitest::JniHost&)> prepare;
    std::function<void(jnitest::JniHost&, const Arguments&)> library;
    std::function<void()> windows;
    // The same Windows calls with the JNI operations the export makes around them, called
    // through the host as an export is.
    std::function<void(jnitest::JniHost&, const Arguments&)> windowsAndJni;
};

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

// A JNI run on a host of its own, gone before the next run: the host keeps every object and
// record it made, and a run on a host grown by an earlier one would pay for that.
double timeThroughHost(const Measurement& m,
                       const std::function<void(jnitest::JniHost&, const Arguments&)>& run) {
    jnitest::JniHost host;
    Arguments arguments = m.prepare(host);
    return microsecondsPerCall(m.calls, [&] { run(host, arguments); });
}

// The median time of each run, the runs taking turns in every repetition so that drift in the
// machine's load hits them alike.
std::vector<double> interleavedMedians(const std::vector<std::function<double()>>& runs) {
    std::vector<std::vector<double>> samples(runs.size());
    for (int repetition = 0; repetition < repetitions; ++repetition) {
        for (size_t run = 0; run < runs.size(); ++run) {
            samples[run].push_back(runs[run]());
        }
    }
    std::vector<double> medians;
    for (const std::vector<double>& runSamples : samples) {
        medians.push_back(median(runSamples));
    }
    return medians;
}

void measure(const Measurement& m) {
    std::vector<double> t = interleavedMedians({
        [&] { return timeThroughHost(m, m.library); },
        [&] { return microsecondsPerCall(m.calls, m.windows); },
        [&] { return timeThroughHost(m, m.windowsAndJni); },
    });
    std::printf(
        "%-24s library %8.3f us | Windows %8.3f us, ratio %.3f | Windows+JNI %8.3f us, "
        "ratio %.3f\n",
        m.what, t[0], t[1], t[0] / t[1], t[2], t[0] / t[2]);
}

// keyGetValue against the two queries it once made, done directly: open, size query, data
// query, close.
void compareWithTwoQueries(const Measurement& m) {
    std::vector<double> t = interleavedMedians({
        [&] { return timeThroughHost(m, m.library); },
        [&] { return microsecondsPerCall(m.calls, m.windows); },
    });
    std::printf("%-27s library %8.3f us | two queries %8.3f us, ratio to two queries %.3f\n",
                m.what, t[0], t[1], t[0] / t[1]);
}

// What keyGetValue asks of Windows for one value.
void readValue(const char* path, const char* name) {
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

void keyExists(const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        RegCloseKey(key);
    }
}

// readValue between the conversions of its arguments and the making of the Java result, in
// the shape of an export.
jobject readText(JNIEnv* env, jclass, jint, jstring subKey, jstring valueName) {
    const char* path = env->GetStringUTFChars(subKey, nullptr);
    const char* name = env->GetStringUTFChars(valueName, nullptr);
    readValue(path, name);
    env->ReleaseStringUTFChars(subKey, path);
    env->ReleaseStringUTFChars(valueName, name);
    return env->NewStringUTF("C:\\Program Files\\Ulvex\\client");
}

jobject readNumber(JNIEnv* env, jclass, jint, jstring subKey, jstring valueName) {
    const char* path = env->GetStringUTFChars(subKey, nullptr);
    const char* name = env->GetStringUTFChars(valueName, nullptr);
    readValue(path, name);
    env->ReleaseStringUTFChars(subKey, path);
    env->ReleaseStringUTFChars(valueName, name);
    jclass integer = env->FindClass("java/lang/Integer");
    return env->functions->NewObject(env, integer, env->GetMethodID(integer, "<init>", "(I)V"), 42);
}

jboolean existsWithJni(JNIEnv* env, jclass, jint, jstring subKey) {
    const char* path = env->GetStringUTFChars(subKey, nullptr);
    keyExists(path);
    env->ReleaseStringUTFChars(subKey, path);
    return JNI_TRUE;
}

jstring lookupWithJni(JNIEnv* env, jclass, jstring variable) {
    const char* name = env->GetStringUTFChars(variable, nullptr);
    char value[4096];
    GetEnvironmentVariableA(name, value, sizeof value);
    env->ReleaseStringUTFChars(variable, name);
    return env->NewStringUTF(value);
}

std::string makeBenchKey() {
    std::string path = "Software\\UlvexRegistryBench-" + std::to_string(GetCurrentProcessId());
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                    nullptr);
    const char text[] = "C:\\Program Files\\Ulvex\\client";
    const char shortText[] = "C:\\Ulvex\\client";  // 16 bytes with its terminator
    const std::string largeText(4095, 'L');        // 4 KiB with its terminator
    DWORD number = 42;
    RegSetValueExA(key, "text", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text);
    RegSetValueExA(key, "short", 0, REG_SZ, reinterpret_cast<const BYTE*>(shortText),
                   sizeof shortText);
    RegSetValueExA(key, "large", 0, REG_SZ, reinterpret_cast<const BYTE*>(largeText.c_str()),
                   static_cast<DWORD>(largeText.size() + 1));
    RegSetValueExA(key, "number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4);
    RegCloseKey(key);
    return path;
}

}  // namespace

int main() {
    jnitest::Library library;
    std::string prefix = "Java_com_ulvex_kesp_tavik_common_win32_";
    auto keyGetValueExport =
        library.get<decltype(Java_com_ulvex_kesp_tavik_common_win32_Registry_keyGetValue)>(
            (prefix + "Registry_keyGetValue").c_str());
    auto keyExistsExport =
        library.get<decltype(Java_com_ulvex_kesp_tavik_common_win32_Registry_keyExists)>(
            (prefix + "Registry_keyExists").c_str());
    auto getEnvironmentVariableExport = library.get<
        decltype(Java_com_ulvex_kesp_tavik_common_win32_Environment_getEnvironmentVariable)>(
        (prefix + "Environment_getEnvironmentVariable").c_str());
    std::string path = makeBenchKey();
    const char* subKey = path.c_str();

    auto valueArguments = [&](const char* name) {
        return [&path, name](jnitest::JniHost& host) {
            return Arguments{host.string(path), host.string(name)};
        };
    };
    auto getValue = [&](jnitest::JniHost& host, const Arguments& a) {
        host.call(keyGetValueExport, currentUser, a.first, a.second);
    };
    const Measurement measurements[] = {
        {"keyGetValue REG_SZ", 2000, valueArguments("text"), getValue,
         [&] { readValue(subKey, "text"); },
         [](jnitest::JniHost& host, const Arguments& a) {
             host.call(readText, currentUser, a.first, a.second);
         }},
        {"keyGetValue REG_DWORD", 2000, valueArguments("number"), getValue,
         [&] { readValue(subKey, "number"); },
         [](jnitest::JniHost& host, const Arguments& a) {
             host.call(readNumber, currentUser, a.first, a.second);
         }},
        {"keyExists", 2000,
         [&](jnitest::JniHost& host) {
             return Arguments{host.string(path), nullptr};
         },
         [&](jnitest::JniHost& host, const Arguments& a) {
             host.call(keyExistsExport, currentUser, a.first);
         },
         [&] { keyExists(subKey); },
         [](jnitest::JniHost& host, const Arguments& a) {
             host.call(existsWithJni, currentUser, a.first);
         }},
        {"getEnvironmentVariable", 5000,
         [](jnitest::JniHost& host) {
             return Arguments{host.string("SystemRoot"), nullptr};
         },
         [&](jnitest::JniHost& host, const Arguments& a) {
             host.call(getEnvironmentVariableExport, a.first);
         },
         [] {
             char value[4096];
             GetEnvironmentVariableA("SystemRoot", value, sizeof value);
         },
         [](jnitest::JniHost& host, const Arguments& a) { host.call(lookupWithJni, a.first); }},
    };
    for (const Measurement& m : measurements) {
        measure(m);
    }
    const Measurement againstTwoQueries[] = {
        {"keyGetValue REG_SZ 16 B", 2000, valueArguments("short"), getValue,
         [&] { readValue(subKey, "short"); }, nullptr},
        {"keyGetValue REG_DWORD", 2000, valueArguments("number"), getValue,
         [&] { readValue(subKey, "number"); }, nullptr},
        {"keyGetValue large 4 KiB", 2000, valueArguments("large"), getValue,
         [&] { readValue(subKey, "large"); }, nullptr},
    };
    for (const Measurement& m : againstTwoQueries) {
        compareWithTwoQueries(m);
    }
    RegDeleteTreeA(HKEY_CURRENT_USER, subKey);
    RegDeleteKeyA(HKEY_CURRENT_USER, subKey);
    return 0;
}

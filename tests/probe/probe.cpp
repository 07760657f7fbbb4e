// Loads the freshly built DLL through the JNI host and prints a few live answers.
#include "probe.h"

#include <com_ulvex_kesp_tavik_common_win32_Environment.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "pe_image.h"

// Prints the exports by Java class, as Java knows them.
void probeExports(const jnitest::Library& library) {
    std::vector<std::string> names = jnitest::exportNames(library.handle());
    std::map<std::string, std::string> methodsByClass;
    for (const std::string& name : names) {
        size_t method = name.rfind('_');
        size_t javaClass = name.rfind('_', method - 1);
        std::string& methods = methodsByClass[name.substr(javaClass + 1, method - javaClass - 1)];
        methods += (methods.empty() ? "" : " ") + name.substr(method + 1);
    }
    std::printf("exports: %zu\n", names.size());
    for (const auto& [javaClass, methods] : methodsByClass) {
        std::printf("  %s: %s\n", javaClass.c_str(), methods.c_str());
    }
}

void probeEnvironment(jnitest::JniHost& host, const jnitest::Library& library) {
    auto lookup =
        library.fn(Java_com_ulvex_kesp_tavik_common_win32_Environment_getEnvironmentVariable,
                   "Java_com_ulvex_kesp_tavik_common_win32_Environment_getEnvironmentVariable");
    jstring value = host.call(lookup, host.string("SystemRoot"));
    std::printf("environment: SystemRoot = %s\n",
                value != nullptr ? host.utf8(value).c_str() : "(null)");
}

int main() {
    jnitest::Library library;
    if (library.handle() == nullptr) {
        std::printf("ulvexwin64.dll did not load\n");
        return 1;
    }
    jnitest::JniHost host;
    probeExports(library);
    probeEnvironment(host, library);
    probeRegistry(host, library);
    probePipe(host, library);
    probeSession(host, library);
    probeDesktop(host, library);
    return host.violations().empty() ? 0 : 1;
}

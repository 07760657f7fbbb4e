// The session-query loader and TerminalServer.getSessionId / getClientName.
#include <com_ulvex_kesp_tavik_common_win32_TerminalServer.h>

#include <algorithm>
#include <cstring>

#include "../jni/boundary.h"
#include "session.h"

namespace ulvex {

SessionQueryFunction sessionQueryFunction = nullptr;
SessionFreeFunction sessionFreeFunction = nullptr;

namespace {

constexpr DWORD pathBufferSize = 512;
constexpr UINT systemDirectorySpace = 256;
constexpr DWORD currentSession = 0xFFFFFFFF;
constexpr int infoClassSessionId = 4;
constexpr int infoClassClientName = 10;

template <typename Function>
Function procedure(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// Loads "wtsapi32.dll" from the system directory, never from a path relative to the current
// drive: when the system directory cannot be had or does not fit, Terminal Services counts as
// absent. The module stays loaded for the life of the process.
void loadSessionQuery() {
    char path[pathBufferSize] = {};
    UINT length = GetSystemDirectoryA(path, systemDirectorySpace);
    if (length == 0 || length >= systemDirectorySpace) {
        return;
    }
    std::strcat(path, "\\wtsapi32.dll");
    HMODULE module = LoadLibraryA(path);
    if (module == nullptr) {
        return;
    }
    sessionQueryFunction = procedure<SessionQueryFunction>(module, "WTSQuerySessionInformationW");
    sessionFreeFunction = procedure<SessionFreeFunction>(module, "WTSFreeMemory");
}

// Runs the loader while the runtime library initialises the module, before the entry routine.
struct SessionQueryLoader {
    SessionQueryLoader() { loadSessionQuery(); }
} sessionQueryLoader;

// A buffer handed back by the query, released with the Terminal Services library's own
// release function; kept when that function is missing.
class SessionBuffer {
public:
    SessionBuffer() = default;
    ~SessionBuffer() {
        if (text_ != nullptr && sessionFreeFunction != nullptr) {
            sessionFreeFunction(text_);
        }
    }
    SessionBuffer(const SessionBuffer&) = delete;
    SessionBuffer& operator=(const SessionBuffer&) = delete;

    LPWSTR* address() { return &text_; }
    const wchar_t* get() const { return text_; }

private:
    LPWSTR text_ = nullptr;
};

}  // namespace
}  // namespace ulvex

JNIEXPORT jint JNICALL Java_com_ulvex_kesp_tavik_common_win32_TerminalServer_getSessionId(JNIEnv*,
                                                                                          jclass) {
    if (ulvex::sessionQueryFunction == nullptr) {
        return 0;
    }
    ulvex::SessionBuffer buffer;
    DWORD bytes = 0;
    if (!ulvex::sessionQueryFunction(nullptr, ulvex::currentSession, ulvex::infoClassSessionId,
                                     buffer.address(), &bytes) ||
        buffer.get() == nullptr || bytes < sizeof(DWORD)) {
        return 0;
    }
    DWORD sessionId = 0;
    std::memcpy(&sessionId, buffer.get(), sizeof sessionId);
    return ulvex::dwordToJava(sessionId);
}

JNIEXPORT jstring JNICALL
Java_com_ulvex_kesp_tavik_common_win32_TerminalServer_getClientName(JNIEnv* env, jclass) {
    if (ulvex::sessionQueryFunction == nullptr) {
        return nullptr;
    }
    ulvex::SessionBuffer buffer;
    DWORD bytes = 0;
    if (!ulvex::sessionQueryFunction(nullptr, ulvex::currentSession, ulvex::infoClassClientName,
                                     buffer.address(), &bytes) ||
        buffer.get() == nullptr) {
        return nullptr;
    }
    // Only the whole UTF-16 units of the length the query reports are read: a name must end
    // within them, and be non-empty.
    const wchar_t* name = buffer.get();
    const wchar_t* units = name + bytes / sizeof(wchar_t);
    const wchar_t* end = std::find(name, units, L'\0');
    if (end == units || end == name) {
        return nullptr;
    }
    return ulvex::newJavaString(env, name, static_cast<DWORD>(end - name));
}

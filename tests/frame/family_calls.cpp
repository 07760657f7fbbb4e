#include "family_calls.h"

#include <com_ulvex_kesp_tavik_common_communication_win32_WinPipe.h>
#include <com_ulvex_kesp_tavik_common_win32_Environment.h>
#include <com_ulvex_kesp_tavik_common_win32_Registry.h>
#include <com_ulvex_kesp_tavik_common_win32_TerminalServer.h>
#include <com_ulvex_kesp_tavik_common_win32_Win32File.h>
#include <com_ulvex_kesp_tavik_common_win32_Window.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr jint currentUser = -2147483647;
const std::string suffix = std::to_string(GetCurrentProcessId());
const std::string longValue = std::string(5000, 'v') + "!";
const std::string pipeName = "\\\\.\\pipe\\ulvex-family-" + suffix;
const std::string keyPath = "Software\\UlvexFamily-" + suffix;
constexpr char expandName[] = "expand";
constexpr char longName[] = "long";

std::string tempPath(const char* name) {
    char directory[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, directory);
    return std::string(directory) + name + suffix;
}

}  // namespace

FamilyData::FamilyData() {
    SetEnvironmentVariableA("ULVEX_FAMILY_LONG", longValue.c_str());
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, keyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const char expand[] = "%ULVEX_FAMILY_LONG%";
    RegSetValueExA(key, "expand", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(expand),
                   sizeof expand);
    RegSetValueExA(key, "long", 0, REG_SZ, reinterpret_cast<const BYTE*>(longValue.c_str()),
                   static_cast<DWORD>(longValue.size() + 1));
    RegCloseKey(key);
}

FamilyData::~FamilyData() {
    RegDeleteTreeA(HKEY_CURRENT_USER, keyPath.c_str());
    SetEnvironmentVariableA("ULVEX_FAMILY_LONG", nullptr);
}

namespace {

Outcome environmentLookup(const jnitest::Library& library, jnitest::JniHost& host) {
    auto lookup =
        library.fn(Java_com_ulvex_kesp_tavik_common_win32_Environment_getEnvironmentVariable,
                   "Java_com_ulvex_kesp_tavik_common_win32_Environment_getEnvironmentVariable");
    jstring value = host.call(lookup, host.string("ULVEX_FAMILY_LONG"));
    if (value == nullptr) {
        return Outcome::failed;
    }
    return host.utf8(value) == longValue ? Outcome::succeeded : Outcome::wrong;
}

// A value that reads as longValue: "expand" by its expansion, "long" above the stack buffer.
template <const char* valueName>
Outcome registryValue(const jnitest::Library& library, jnitest::JniHost& host) {
    auto getValue = library.fn(Java_com_ulvex_kesp_tavik_common_win32_Registry_keyGetValue,
                               "Java_com_ulvex_kesp_tavik_common_win32_Registry_keyGetValue");
    jobject value = host.call(getValue, currentUser, host.string(keyPath), host.string(valueName));
    if (value == nullptr) {
        bool raised = host.exceptionMessage() == "Error retreiving registry value";
        host.clearException();
        return raised ? Outcome::failed : Outcome::wrong;
    }
    return host.utf8(static_cast<jstring>(value)) == longValue ? Outcome::succeeded
                                                               : Outcome::wrong;
}

// A byte[] above the stack buffer, written.
Outcome binaryValue(const jnitest::Library& library, jnitest::JniHost& host) {
    auto setValue = library.fn(Java_com_ulvex_kesp_tavik_common_win32_Registry_keySetValue,
                               "Java_com_ulvex_kesp_tavik_common_win32_Registry_keySetValue");
    host.call(setValue, currentUser, host.string(keyPath), host.string("bytes"), REG_BINARY,
              static_cast<jobject>(host.byteArray(std::vector<std::uint8_t>(10000))), JNI_FALSE);
    if (!host.exceptionPending()) {
        return Outcome::succeeded;
    }
    bool raised = host.exceptionMessage() == "Error setting registry value (REG_NONE/REG_BINARY)";
    host.clearException();
    return raised ? Outcome::failed : Outcome::wrong;
}

Outcome shortcut(const jnitest::Library& library, jnitest::JniHost& host) {
    auto create = library.fn(Java_com_ulvex_kesp_tavik_common_win32_Win32File_winCreateShortcut,
                             "Java_com_ulvex_kesp_tavik_common_win32_Win32File_winCreateShortcut");
    // A name of its own for every call: a shortcut may stay open briefly after it was written.
    static int calls = 0;
    std::string link = tempPath("ulvex-family-") + "-" + std::to_string(++calls) + ".lnk";
    // A description longer than the texts the library copies on the stack.
    jint result =
        host.call(create, host.string("C:\\windows\\notepad.exe"), host.string(""),
                  host.string(link), host.string(std::string(300, 'd')), host.string(""), 0);
    bool written = GetFileAttributesA(link.c_str()) != INVALID_FILE_ATTRIBUTES;
    DeleteFileA(link.c_str());
    if (result == 0) {
        return written ? Outcome::succeeded : Outcome::wrong;
    }
    return written ? Outcome::wrong : Outcome::failed;
}

// Both ends of a pipe through the library, and a message above the size that passes through
// the stack. A write that fails sends nothing, so the read is not tried.
Outcome pipe(const jnitest::Library& library, jnitest::JniHost& host) {
    auto create =
        library.fn(Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_createNamedPipe,
                   "Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_createNamedPipe");
    auto wait =
        library.fn(Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_waitForPipe,
                   "Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_waitForPipe");
    auto open =
        library.fn(Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_createFile,
                   "Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_createFile");
    auto write = library.fn(Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_write,
                            "Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_write");
    auto read = library.fn(Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_read,
                           "Java_com_ulvex_kesp_tavik_common_communication_win32_WinPipe_read");

    constexpr jint size = 16384;
    jint server =
        host.call(create, host.string(pipeName), PIPE_ACCESS_DUPLEX, 1, 4 * size, 4 * size, 0);
    bool waited = host.call(wait, host.string(pipeName), 1000) != 0;
    jint client = host.call(open, host.string(pipeName), GENERIC_READ | GENERIC_WRITE);
    bool connected = server != -1 && waited && client != -1;
    const std::vector<std::uint8_t> message(size, 0x5A);
    jbyteArray received = host.byteArray(std::vector<std::uint8_t>(size));
    jint written = connected ? host.call(write, client, host.byteArray(message), size) : 0;
    jint delivered = written == size ? host.call(read, server, received, size) : 0;
    CloseHandle(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(client)));
    CloseHandle(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(server)));
    if (!connected) {
        return Outcome::wrong;
    }
    if (written == 0 || delivered == -1) {
        return Outcome::failed;
    }
    return delivered == size && host.bytes(received) == message ? Outcome::succeeded
                                                                : Outcome::wrong;
}

Outcome window(const jnitest::Library& library, jnitest::JniHost& host) {
    auto create = library.fn(Java_com_ulvex_kesp_tavik_common_win32_Window_createWindow,
                             "Java_com_ulvex_kesp_tavik_common_win32_Window_createWindow");
    // A title longer than the names the library copies on the stack.
    jint made = host.call(create, host.string(std::string(300, 't')), host.string("UlvexFamily"), 0,
                          0, 0, 0, 10, 10);
    if (made == -1) {
        return Outcome::failed;
    }
    bool destroyed = made != 0 && made != -1 &&
                     DestroyWindow(reinterpret_cast<HWND>(static_cast<INT_PTR>(made)));
    // Wine frees a destroyed window's resources as the thread handles its messages.
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageA(&message);
    }
    return destroyed ? Outcome::succeeded : Outcome::wrong;
}

Outcome session(const jnitest::Library& library, jnitest::JniHost& host) {
    auto id = library.fn(Java_com_ulvex_kesp_tavik_common_win32_TerminalServer_getSessionId,
                         "Java_com_ulvex_kesp_tavik_common_win32_TerminalServer_getSessionId");
    auto name = library.fn(Java_com_ulvex_kesp_tavik_common_win32_TerminalServer_getClientName,
                           "Java_com_ulvex_kesp_tavik_common_win32_TerminalServer_getClientName");
    auto detect =
        library.fn(Java_com_ulvex_kesp_tavik_common_win32_TerminalServer_isTerminalServer,
                   "Java_com_ulvex_kesp_tavik_common_win32_TerminalServer_isTerminalServer");
    host.call(id);
    host.call(name);
    host.call(detect);
    return host.exceptionPending() ? Outcome::wrong : Outcome::succeeded;
}

}  // namespace

const std::vector<FamilyCall> familyCalls = {
    {"getEnvironmentVariable", environmentLookup},
    {"keyGetValue expand", registryValue<expandName>},
    {"keyGetValue long", registryValue<longName>},
    {"keySetValue byte[]", binaryValue},
    {"winCreateShortcut", shortcut},
    {"WinPipe, 16 KiB", pipe},
    {"createWindow", window},
    {"session queries", session},
};

// TerminalServer.isTerminalServer: the operating-system classification and the two ways of
// detecting Terminal Services it chooses between.
#include <com_ulvex_kesp_tavik_common_win32_TerminalServer.h>

#include <cstring>

#include "../jni/boundary.h"
#include "../jni/heap.h"

namespace {

constexpr size_t familyNameSize = 255;
constexpr DWORD productSuiteSize = 255;
constexpr char familyNt[] = "Windows NT";
constexpr char family2000[] = "Windows 2000";
constexpr char terminalServer[] = "Terminal Server";

// Writes the Windows family into `familyName` (zero-filled by the caller); leaves it empty
// when the version cannot be read or the platform is unknown.
void classifyOperatingSystem(char* familyName) {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version)) {
        return;
    }
    const char* family = "";
    if (version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion <= 4) {
        family = familyNt;
    } else if (version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion >= 5) {
        family = family2000;
    } else if (version.dwPlatformId == VER_PLATFORM_WIN32s) {
        family = "Win32s on Windows 3.1";
    } else if (version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) {
        family = "Windows 95";
    }
    std::strncpy(familyName, family, familyNameSize - 1);
}

// A registry key opened with RegOpenKeyA, closed when the holder goes out of scope.
class OpenedKey {
public:
    OpenedKey(HKEY parent, const char* name) {
        if (RegOpenKeyA(parent, name, &key_) != ERROR_SUCCESS) {
            key_ = nullptr;
        }
    }
    ~OpenedKey() {
        if (key_ != nullptr) {
            RegCloseKey(key_);
        }
    }
    OpenedKey(const OpenedKey&) = delete;
    OpenedKey& operator=(const OpenedKey&) = delete;

    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

// True when the first name in `data` (NUL-separated names, not necessarily terminated) is
// exactly "Terminal Server". Never reads past `size` bytes.
bool firstNameIsTerminalServer(const char* data, DWORD size) {
    const void* end = std::memchr(data, '\0', size);
    size_t length = end != nullptr ? static_cast<const char*>(end) - data : size;
    return length == sizeof terminalServer - 1 &&
           std::memcmp(data, terminalServer, sizeof terminalServer - 1) == 0;
}

// A "ProductSuite" value too long for the usual buffer: read whole into a buffer of the size
// the registry reports, again while the value keeps growing. A size that did not grow ends the
// search, so that an inconsistent registry cannot keep it going.
bool longProductSuiteIsTerminalServer(HKEY productOptions, DWORD required) {
    ulvex::HeapBuffer data;
    while (data.allocate(required)) {
        DWORD size = required;
        LONG status =
            RegQueryValueExA(productOptions, "ProductSuite", nullptr, nullptr, data.get(), &size);
        if (status == ERROR_SUCCESS) {
            return firstNameIsTerminalServer(data.text(), size);
        }
        if (status != ERROR_MORE_DATA || size <= required) {
            return false;
        }
        required = size;
    }
    return false;
}

bool productSuiteIsTerminalServer(HKEY control) {
    OpenedKey productOptions(control, "ProductOptions");
    if (productOptions.get() == nullptr) {
        return false;
    }
    char data[productSuiteSize] = {};
    DWORD size = productSuiteSize;
    LONG status = RegQueryValueExA(productOptions.get(), "ProductSuite", nullptr, nullptr,
                                   reinterpret_cast<BYTE*>(data), &size);
    if (status == ERROR_MORE_DATA) {
        return longProductSuiteIsTerminalServer(productOptions.get(), size);
    }
    return status == ERROR_SUCCESS && firstNameIsTerminalServer(data, size);
}

// Windows NT 4 and earlier: the product-suite list names "Terminal Server" first. The path is
// opened one key at a time and closed in reverse order.
bool registryShowsTerminalServer() {
    OpenedKey system(HKEY_LOCAL_MACHINE, "SYSTEM");
    if (system.get() == nullptr) {
        return false;
    }
    OpenedKey controlSet(system.get(), "CurrentControlSet");
    if (controlSet.get() == nullptr) {
        return false;
    }
    OpenedKey control(controlSet.get(), "Control");
    return control.get() != nullptr && productSuiteIsTerminalServer(control.get());
}

template <typename Function>
Function lookUp(const char* moduleName, const char* name) {
    HMODULE module = GetModuleHandleA(moduleName);
    if (module == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

using SetConditionMask = ULONGLONG(WINAPI*)(ULONGLONG mask, DWORD type, BYTE condition);
using VerifyVersion = BOOL(WINAPI*)(OSVERSIONINFOEXA* record, DWORD type, DWORDLONG mask);

// Windows 2000 and later: the system verifies the Terminal Services suite itself. Both
// functions are looked up at run time; nothing is loaded or freed.
bool versionShowsTerminalServer() {
    auto setConditionMask = lookUp<SetConditionMask>("ntdll.dll", "VerSetConditionMask");
    if (setConditionMask == nullptr) {
        return false;
    }
    ULONGLONG mask = setConditionMask(0, VER_SUITENAME, VER_AND);
    auto verifyVersion = lookUp<VerifyVersion>("KERNEL32.DLL", "VerifyVersionInfoA");
    if (verifyVersion == nullptr) {
        return false;
    }
    OSVERSIONINFOEXA record{};
    record.dwOSVersionInfoSize = sizeof record;
    record.wSuiteMask = VER_SUITE_TERMINAL;
    return verifyVersion(&record, VER_SUITENAME, mask) == 1;
}

}  // namespace

JNIEXPORT jboolean JNICALL
Java_com_ulvex_kesp_tavik_common_win32_TerminalServer_isTerminalServer(JNIEnv*, jclass) {
    char familyName[familyNameSize] = {};
    classifyOperatingSystem(familyName);
    bool detected = false;
    if (std::strcmp(familyName, familyNt) == 0) {
        detected = registryShowsTerminalServer();
    } else if (std::strcmp(familyName, family2000) == 0) {
        detected = versionShowsTerminalServer();
    }
    return ulvex::booleanToJava(detected);
}

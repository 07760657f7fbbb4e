// Probe line for the desktop family: a hidden window made, shown, hidden and destroyed, and a
// shortcut written and read back through the shell.
#include <com_ulvex_kesp_tavik_common_win32_Win32File.h>
#include <com_ulvex_kesp_tavik_common_win32_Window.h>

#include <shlobj.h>

#include <cstdio>
#include <string>

#include "probe.h"

namespace {

// The target and arguments of the shortcut file at `path`, read through the shell's link
// object, or "unreadable".
std::string readBack(const std::string& path) {
    std::string answer = "unreadable";
    HRESULT com = CoInitialize(nullptr);
    IShellLinkA* link = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   reinterpret_cast<void**>(&link)))) {
        IPersistFile* file = nullptr;
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
            wchar_t widePath[MAX_PATH] = {};
            MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, widePath, MAX_PATH);
            char target[MAX_PATH] = {};
            char arguments[MAX_PATH] = {};
            if (SUCCEEDED(file->Load(widePath, STGM_READ)) &&
                SUCCEEDED(link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH)) &&
                SUCCEEDED(link->GetArguments(arguments, MAX_PATH))) {
                answer = std::string(target) + " " + arguments;
            }
            file->Release();
        }
        link->Release();
    }
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
    return answer;
}

}  // namespace

void probeDesktop(jnitest::JniHost& host, const jnitest::Library& library) {
    auto* createWindow =
        library.get<decltype(Java_com_ulvex_kesp_tavik_common_win32_Window_createWindow)>(
            "Java_com_ulvex_kesp_tavik_common_win32_Window_createWindow");
    auto* showWindow =
        library.get<decltype(Java_com_ulvex_kesp_tavik_common_win32_Window_showWindow)>(
            "Java_com_ulvex_kesp_tavik_common_win32_Window_showWindow");
    auto* destroyWindow =
        library.get<decltype(Java_com_ulvex_kesp_tavik_common_win32_Window_destroyWindow)>(
            "Java_com_ulvex_kesp_tavik_common_win32_Window_destroyWindow");
    auto* createShortcut =
        library.get<decltype(Java_com_ulvex_kesp_tavik_common_win32_Win32File_winCreateShortcut)>(
            "Java_com_ulvex_kesp_tavik_common_win32_Win32File_winCreateShortcut");

    jint window = host.call(createWindow, host.string("Ulvex probe"), host.string("UlvexProbe"), 0,
                            0, 0, 0, 200, 100);
    HWND handle = reinterpret_cast<HWND>(static_cast<INT_PTR>(window));
    bool hiddenAtFirst = IsWindow(handle) && !IsWindowVisible(handle);
    bool visibleBeforeShow = host.call(showWindow, window, SW_SHOWNOACTIVATE) != 0;
    bool visibleBeforeHide = host.call(showWindow, window, SW_HIDE) != 0;
    host.call(destroyWindow, window);
    bool destroyed = !IsWindow(handle);

    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    std::string path = std::string(temp) + "ulvex-probe.lnk";
    jint written =
        host.call(createShortcut, host.string("C:\\windows\\notepad.exe"), host.string("--probe"),
                  host.string(path), host.string("Ulvex probe"), host.string(""), SW_SHOWNORMAL);
    std::string readBackText = readBack(path);
    DeleteFileA(path.c_str());

    std::printf(
        "desktop: window %s%s, shown (was visible: %s), hidden (was visible: %s), %s; "
        "shortcut written (%d), read back: %s\n",
        window != 0 && window != -1 ? "made" : "NOT made", hiddenAtFirst ? " hidden" : " VISIBLE",
        visibleBeforeShow ? "yes" : "no", visibleBeforeHide ? "yes" : "no",
        destroyed ? "destroyed" : "NOT destroyed", static_cast<int>(written), readBackText.c_str());
}

// Shortcut files seen through the shell's own link object: reading a file back with the
// IShellLinkW getters, and a link object that forwards to the shell's and records the calls
// the library makes on it. Texts and paths are held as UTF-8.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

namespace desktoptest {

// COM initialised as a single-threaded apartment on the calling thread while this lives.
class ComThread {
public:
    ComThread() : result_(CoInitialize(nullptr)) {}
    ~ComThread() {
        if (SUCCEEDED(result_)) {
            CoUninitialize();
        }
    }
    ComThread(const ComThread&) = delete;
    ComThread& operator=(const ComThread&) = delete;

private:
    HRESULT result_;
};

struct LinkFields {
    std::string target;
    std::string arguments;
    std::string description;
    std::string workingDirectory;
    int showCommand = 0;
};

// Loads the file at `path` into a new link object and reads its fields through the getters.
// False when the file cannot be loaded. Wine's link object does not take the show command
// from a file it loads (it answers 1): read that from the file's header instead.
bool readLink(const std::string& path, LinkFields& fields);

// The show command stored in a shortcut file's header (offset 0x3C), or -1.
int headerShowCommand(const std::string& path);

bool fileExists(const std::string& path);

// UTF-8 as UTF-16.
std::wstring widen(const std::string& text);

// The shell's link object behind a recording front. One reference count is shared by both
// interfaces, as the shell's object does; it starts at 1, the reference handed out.
class RecordingLink final : public IShellLinkW {
public:
    explicit RecordingLink(IShellLinkW* inner);  // takes over the reference
    ~RecordingLink();
    RecordingLink(const RecordingLink&) = delete;
    RecordingLink& operator=(const RecordingLink&) = delete;

    // Calls made, with their arguments: "SetPath(C:\x)", "Save(C:\l.lnk,1)", "Release(link)".
    std::vector<std::string> calls;
    LONG references = 1;
    bool refusePersistFile = false;  // QueryInterface for IPersistFile fails
    HRESULT setterResult = S_OK;     // a failure is returned without passing the call on
    DWORD setterLastError = 0;       // left as the last error by every setter, when not 0
    HRESULT saveResult = S_OK;       // a failure is returned without passing the call on
    bool raiseInSave = false;        // Save raises a structured exception

    // The fields as the shell's object holds them, read through its own getters.
    LinkFields shellFields() const;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetPath(LPWSTR, int, WIN32_FIND_DATAW*, DWORD) override;
    HRESULT STDMETHODCALLTYPE GetIDList(PIDLIST_ABSOLUTE*) override;
    HRESULT STDMETHODCALLTYPE SetIDList(PCIDLIST_ABSOLUTE) override;
    HRESULT STDMETHODCALLTYPE GetDescription(LPWSTR, int) override;
    HRESULT STDMETHODCALLTYPE SetDescription(LPCWSTR) override;
    HRESULT STDMETHODCALLTYPE GetWorkingDirectory(LPWSTR, int) override;
    HRESULT STDMETHODCALLTYPE SetWorkingDirectory(LPCWSTR) override;
    HRESULT STDMETHODCALLTYPE GetArguments(LPWSTR, int) override;
    HRESULT STDMETHODCALLTYPE SetArguments(LPCWSTR) override;
    HRESULT STDMETHODCALLTYPE GetHotkey(WORD*) override;
    HRESULT STDMETHODCALLTYPE SetHotkey(WORD) override;
    HRESULT STDMETHODCALLTYPE GetShowCmd(int*) override;
    HRESULT STDMETHODCALLTYPE SetShowCmd(int) override;
    HRESULT STDMETHODCALLTYPE GetIconLocation(LPWSTR, int, int*) override;
    HRESULT STDMETHODCALLTYPE SetIconLocation(LPCWSTR, int) override;
    HRESULT STDMETHODCALLTYPE SetRelativePath(LPCWSTR, DWORD) override;
    HRESULT STDMETHODCALLTYPE Resolve(HWND, DWORD) override;
    HRESULT STDMETHODCALLTYPE SetPath(LPCWSTR) override;

private:
    class File;
    void record(const char* name, const std::string& argument);
    HRESULT setterAnswer(HRESULT result) const;

    IShellLinkW* inner_;
    IPersistFile* innerFile_;
    File* file_;
};

}  // namespace desktoptest

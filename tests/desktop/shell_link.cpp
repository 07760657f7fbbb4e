#include "shell_link.h"

#include <memory>

#include "seh.h"

namespace desktoptest {

namespace {

std::string narrow(const wchar_t* text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string result(size > 0 ? size - 1 : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), size, nullptr, nullptr);
    return result;
}

template <typename Getter>
std::string readText(Getter getter) {
    wchar_t buffer[INFOTIPSIZE] = {};
    getter(buffer, INFOTIPSIZE);
    return narrow(buffer);
}

}  // namespace

std::wstring widen(const std::string& text) {
    int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring result(size > 0 ? size - 1 : 0, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, result.data(), size);
    return result;
}

LinkFields readFields(IShellLinkW* link) {
    LinkFields fields;
    fields.target =
        readText([&](wchar_t* b, int n) { link->GetPath(b, n, nullptr, SLGP_RAWPATH); });
    fields.arguments = readText([&](wchar_t* b, int n) { link->GetArguments(b, n); });
    fields.description = readText([&](wchar_t* b, int n) { link->GetDescription(b, n); });
    fields.workingDirectory = readText([&](wchar_t* b, int n) { link->GetWorkingDirectory(b, n); });
    link->GetShowCmd(&fields.showCommand);
    return fields;
}

bool readLink(const std::string& path, LinkFields& fields) {
    ComThread com;
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link)))) {
        return false;
    }
    std::unique_ptr<IShellLinkW, void (*)(IShellLinkW*)> linkHolder(
        link, [](IShellLinkW* held) { held->Release(); });
    IPersistFile* file = nullptr;
    if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        return false;
    }
    HRESULT loaded = file->Load(widen(path).c_str(), STGM_READ);
    file->Release();
    if (FAILED(loaded)) {
        return false;
    }
    fields = readFields(link);
    return true;
}

int headerShowCommand(const std::string& path) {
    HANDLE file = CreateFileW(widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return -1;
    }
    DWORD value = 0, read = 0;
    SetFilePointer(file, 0x3C, nullptr, FILE_BEGIN);
    BOOL ok = ReadFile(file, &value, sizeof value, &read, nullptr);
    CloseHandle(file);
    return ok && read == sizeof value ? static_cast<int>(value) : -1;
}

bool fileExists(const std::string& path) {
    return GetFileAttributesW(widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The link object's IPersistFile, forwarded to the shell's and recorded in the link's calls.
class RecordingLink::File final : public IPersistFile {
public:
    File(RecordingLink& link, IPersistFile* inner) : link_(link), inner_(inner) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        return link_.QueryInterface(iid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return link_.AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override {
        link_.calls.push_back("Release(file)");
        return static_cast<ULONG>(--link_.references);
    }
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* id) override { return inner_->GetClassID(id); }
    HRESULT STDMETHODCALLTYPE IsDirty() override { return inner_->IsDirty(); }
    HRESULT STDMETHODCALLTYPE Load(LPCOLESTR name, DWORD mode) override {
        return inner_->Load(name, mode);
    }
    HRESULT STDMETHODCALLTYPE Save(LPCOLESTR name, BOOL remember) override {
        link_.calls.push_back("Save(" + narrow(name) + "," + std::to_string(remember) + ")");
        if (link_.raiseInSave) {
            jnitest::raiseTestException();
        }
        return FAILED(link_.saveResult) ? link_.saveResult : inner_->Save(name, remember);
    }
    HRESULT STDMETHODCALLTYPE SaveCompleted(LPCOLESTR name) override {
        return inner_->SaveCompleted(name);
    }
    HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR* name) override {
        return inner_->GetCurFile(name);
    }

private:
    RecordingLink& link_;
    IPersistFile* inner_;
};

RecordingLink::RecordingLink(IShellLinkW* inner)
    : inner_(inner), innerFile_(nullptr), file_(nullptr) {
    inner_->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&innerFile_));
    file_ = new File(*this, innerFile_);
}

RecordingLink::~RecordingLink() {
    delete file_;
    innerFile_->Release();
    inner_->Release();
}

LinkFields RecordingLink::shellFields() const {
    return readFields(inner_);
}

void RecordingLink::record(const char* name, const std::string& argument) {
    calls.push_back(std::string(name) + "(" + argument + ")");
}

HRESULT RecordingLink::setterAnswer(HRESULT result) const {
    if (setterLastError != 0) {
        SetLastError(setterLastError);
    }
    return result;
}

HRESULT RecordingLink::QueryInterface(REFIID iid, void** out) {
    if (iid == IID_IPersistFile) {
        record("QueryInterface", "IPersistFile");
        if (refusePersistFile) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        *out = static_cast<IPersistFile*>(file_);
    } else if (iid == IID_IShellLinkW || iid == IID_IUnknown) {
        record("QueryInterface", "IShellLinkW");
        *out = static_cast<IShellLinkW*>(this);
    } else {
        record("QueryInterface", "other");
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ++references;
    return S_OK;
}

ULONG RecordingLink::AddRef() {
    return static_cast<ULONG>(++references);
}

ULONG RecordingLink::Release() {
    calls.push_back("Release(link)");
    return static_cast<ULONG>(--references);
}

HRESULT RecordingLink::SetPath(LPCWSTR path) {
    record("SetPath", narrow(path));
    return setterAnswer(FAILED(setterResult) ? setterResult : inner_->SetPath(path));
}
HRESULT RecordingLink::SetArguments(LPCWSTR arguments) {
    record("SetArguments", narrow(arguments));
    return setterAnswer(FAILED(setterResult) ? setterResult : inner_->SetArguments(arguments));
}
HRESULT RecordingLink::SetDescription(LPCWSTR description) {
    record("SetDescription", narrow(description));
    return setterAnswer(FAILED(setterResult) ? setterResult : inner_->SetDescription(description));
}
HRESULT RecordingLink::SetShowCmd(int showCommand) {
    record("SetShowCmd", std::to_string(showCommand));
    return setterAnswer(FAILED(setterResult) ? setterResult : inner_->SetShowCmd(showCommand));
}
HRESULT RecordingLink::SetWorkingDirectory(LPCWSTR directory) {
    record("SetWorkingDirectory", narrow(directory));
    return setterAnswer(FAILED(setterResult) ? setterResult
                                             : inner_->SetWorkingDirectory(directory));
}

// Calls the library does not make: recorded under their names so that a test sees them.
HRESULT RecordingLink::GetPath(LPWSTR b, int n, WIN32_FIND_DATAW* d, DWORD f) {
    record("GetPath", "");
    return inner_->GetPath(b, n, d, f);
}
HRESULT RecordingLink::GetIDList(PIDLIST_ABSOLUTE* list) {
    record("GetIDList", "");
    return inner_->GetIDList(list);
}
HRESULT RecordingLink::SetIDList(PCIDLIST_ABSOLUTE list) {
    record("SetIDList", "");
    return inner_->SetIDList(list);
}
HRESULT RecordingLink::GetDescription(LPWSTR b, int n) {
    record("GetDescription", "");
    return inner_->GetDescription(b, n);
}
HRESULT RecordingLink::GetWorkingDirectory(LPWSTR b, int n) {
    record("GetWorkingDirectory", "");
    return inner_->GetWorkingDirectory(b, n);
}
HRESULT RecordingLink::GetArguments(LPWSTR b, int n) {
    record("GetArguments", "");
    return inner_->GetArguments(b, n);
}
HRESULT RecordingLink::GetHotkey(WORD* key) {
    record("GetHotkey", "");
    return inner_->GetHotkey(key);
}
HRESULT RecordingLink::SetHotkey(WORD key) {
    record("SetHotkey", std::to_string(key));
    return inner_->SetHotkey(key);
}
HRESULT RecordingLink::GetShowCmd(int* showCommand) {
    record("GetShowCmd", "");
    return inner_->GetShowCmd(showCommand);
}
HRESULT RecordingLink::GetIconLocation(LPWSTR b, int n, int* index) {
    record("GetIconLocation", "");
    return inner_->GetIconLocation(b, n, index);
}
HRESULT RecordingLink::SetIconLocation(LPCWSTR path, int index) {
    record("SetIconLocation", narrow(path));
    return inner_->SetIconLocation(path, index);
}
HRESULT RecordingLink::SetRelativePath(LPCWSTR path, DWORD reserved) {
    record("SetRelativePath", narrow(path));
    return inner_->SetRelativePath(path, reserved);
}
HRESULT RecordingLink::Resolve(HWND window, DWORD flags) {
    record("Resolve", "");
    return inner_->Resolve(window, flags);
}

}  // namespace desktoptest

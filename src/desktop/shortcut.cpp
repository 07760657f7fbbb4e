// Win32File.winCreateShortcut: a shell shortcut file written through the shell's link object.
#include <com_ulvex_kesp_tavik_common_win32_Win32File.h>

#include <shlobj.h>

#include <cstddef>

#include "../jni/boundary.h"
#include "../jni/guarded.h"
#include "../jni/heap.h"
#include "com_scope.h"

namespace {

// The Java string arguments, in the order they are converted and released.
constexpr std::size_t targetField = 0;
constexpr std::size_t argumentsField = 1;
constexpr std::size_t linkPathField = 2;
constexpr std::size_t descriptionField = 3;
constexpr std::size_t workingDirectoryField = 4;

// The link path in UTF-16, in a buffer of the size the conversion asks for, so that a path of
// any length is converted whole. Empty when the conversion or the allocation failed.
class WideLinkPath final : public ulvex::UnwindRelease {
public:
    explicit WideLinkPath(const char* path);

    const wchar_t* get() const { return text_.as<wchar_t>(); }
    void releaseOnUnwind() override { text_.release(); }

private:
    ulvex::HeapBuffer text_;
};

WideLinkPath::WideLinkPath(const char* path) {
    int units = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    if (units <= 0 || !text_.allocate(static_cast<std::size_t>(units) * sizeof(wchar_t))) {
        return;
    }
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, text_.as<wchar_t>(), units) != units) {
        text_.release();
    }
}

// The result of a call that wrote no file: the thread's last-error code when there is one,
// else the Win32 code that the failing HRESULT carries, else ERROR_GEN_FAILURE. Never 0.
DWORD failureCode(DWORD lastError, HRESULT failure) {
    if (lastError != ERROR_SUCCESS) {
        return lastError;
    }
    if (HRESULT_FACILITY(failure) == FACILITY_WIN32 && HRESULT_CODE(failure) != 0) {
        return static_cast<DWORD>(HRESULT_CODE(failure));
    }
    return ERROR_GEN_FAILURE;
}

bool isEmpty(const char* text) {
    return text[0] == '\0';
}

// The target is always set; empty texts and show commands of 0 or less keep the link's
// defaults. A setter's failure does not stop the others.
void setFields(IShellLinkA* link, const ulvex::GuardedStrings& fields, jint showCommand) {
    link->SetPath(fields[targetField]);
    if (!isEmpty(fields[argumentsField])) {
        link->SetArguments(fields[argumentsField]);
    }
    if (!isEmpty(fields[descriptionField])) {
        link->SetDescription(fields[descriptionField]);
    }
    if (showCommand > 0) {
        link->SetShowCmd(showCommand);
    }
    if (!isEmpty(fields[workingDirectoryField])) {
        link->SetWorkingDirectory(fields[workingDirectoryField]);
    }
}

// Saves the link as the file at `path`: 0, or the failure code when no file was written.
DWORD saveLink(IShellLinkA* link, const char* path, DWORD errorAfterCreate) {
    ulvex::ComReference<IPersistFile> file;
    HRESULT status = link->QueryInterface(IID_IPersistFile, file.out());
    if (FAILED(status)) {
        return failureCode(errorAfterCreate, status);
    }
    WideLinkPath widePath(path);
    if (widePath.get() == nullptr) {
        return failureCode(errorAfterCreate, E_OUTOFMEMORY);
    }
    SetLastError(ERROR_SUCCESS);
    status = file->Save(widePath.get(), TRUE);
    DWORD errorAfterSave = GetLastError();
    return FAILED(status) ? failureCode(errorAfterSave, status) : ERROR_SUCCESS;
}

DWORD writeShortcut(const ulvex::GuardedStrings& fields, jint showCommand) {
    ulvex::ComReference<IShellLinkA> link;
    SetLastError(ERROR_SUCCESS);
    HRESULT status = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IShellLinkA, link.out());
    DWORD errorAfterCreate = GetLastError();
    if (FAILED(status)) {
        return failureCode(errorAfterCreate, status);
    }
    setFields(link.get(), fields, showCommand);
    return saveLink(link.get(), fields[linkPathField], errorAfterCreate);
}

}  // namespace

// 0 when the file was written; ERROR_INVALID_PARAMETER before any COM call when a string is
// missing; otherwise the failure code above. Strings are released in parameter order, then
// the call's own COM initialisation is undone, also when a structured exception unwinds.
JNIEXPORT jint JNICALL Java_com_ulvex_kesp_tavik_common_win32_Win32File_winCreateShortcut(
    JNIEnv* env, jclass, jstring targetPath, jstring arguments, jstring linkPath,
    jstring description, jstring workingDirectory, jint showCommand) {
    DWORD result = ERROR_INVALID_PARAMETER;
    ulvex::runGuarded([&] {
        // Declared first so that COM is left last, after the strings are released.
        ulvex::ComApartment apartment;
        ulvex::GuardedStrings fields(
            env, {targetPath, arguments, linkPath, description, workingDirectory});
        if (!fields.complete()) {
            return;
        }
        apartment.enter();
        result = writeShortcut(fields, showCommand);
    });
    return ulvex::dwordToJava(result);
}

// Win32File.winCreateShortcut: a shell shortcut file written through the shell's link object.
#include <com_ulvex_kesp_tavik_common_win32_Win32File.h>

#include <shlobj.h>

#include "../jni/boundary.h"
#include "com_scope.h"

namespace {

// The Java string arguments in parameter order, each copied as UTF-16.
struct ShortcutFields {
    ulvex::WideString target;
    ulvex::WideString arguments;
    ulvex::WideString linkPath;
    ulvex::WideString description;
    ulvex::WideString workingDirectory;

    // Every field is there and Windows reads each whole: none holds U+0000.
    bool whole() const {
        return target.whole() && arguments.whole() && linkPath.whole() && description.whole() &&
               workingDirectory.whole();
    }
};

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

// The target is always set; empty texts and show commands of 0 or less keep the link's
// defaults. A setter's failure does not stop the others.
void setFields(IShellLinkW* link, const ShortcutFields& fields, jint showCommand) {
    link->SetPath(fields.target.get());
    if (fields.arguments.length() > 0) {
        link->SetArguments(fields.arguments.get());
    }
    if (fields.description.length() > 0) {
        link->SetDescription(fields.description.get());
    }
    if (showCommand > 0) {
        link->SetShowCmd(showCommand);
    }
    if (fields.workingDirectory.length() > 0) {
        link->SetWorkingDirectory(fields.workingDirectory.get());
    }
}

// Saves the link as the file at `path`, whatever its length: 0, or the failure code when no
// file was written.
DWORD saveLink(IShellLinkW* link, const wchar_t* path, DWORD errorAfterCreate) {
    ulvex::ComReference<IPersistFile> file;
    HRESULT status = link->QueryInterface(IID_IPersistFile, file.out());
    if (FAILED(status)) {
        return failureCode(errorAfterCreate, status);
    }
    SetLastError(ERROR_SUCCESS);
    status = file->Save(path, TRUE);
    DWORD errorAfterSave = GetLastError();
    return FAILED(status) ? failureCode(errorAfterSave, status) : ERROR_SUCCESS;
}

DWORD writeShortcut(const ShortcutFields& fields, jint showCommand) {
    ulvex::ComReference<IShellLinkW> link;
    SetLastError(ERROR_SUCCESS);
    HRESULT status = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IShellLinkW, link.out());
    DWORD errorAfterCreate = GetLastError();
    if (FAILED(status)) {
        return failureCode(errorAfterCreate, status);
    }
    setFields(link.get(), fields, showCommand);
    return saveLink(link.get(), fields.linkPath.get(), errorAfterCreate);
}

}  // namespace

// 0 when the file was written; ERROR_INVALID_PARAMETER before any COM call when a string is
// missing or holds U+0000 (the shell would read a shorter text); otherwise the failure code
// above. The strings cross as UTF-16; their copies are freed, then the call's own COM
// initialisation is undone, also when a structured exception unwinds.
JNIEXPORT jint JNICALL Java_com_ulvex_kesp_tavik_common_win32_Win32File_winCreateShortcut(
    JNIEnv* env, jclass, jstring targetPath, jstring arguments, jstring linkPath,
    jstring description, jstring workingDirectory, jint showCommand) {
    DWORD result = ERROR_INVALID_PARAMETER;
    ulvex::runGuarded([&] {
        // Declared first so that COM is left last, after the strings are released.
        ulvex::ComApartment apartment;
        ShortcutFields fields{{env, targetPath},
                              {env, arguments},
                              {env, linkPath},
                              {env, description},
                              {env, workingDirectory}};
        if (!fields.whole()) {
            return;
        }
        apartment.enter();
        result = writeShortcut(fields, showCommand);
    });
    return ulvex::dwordToJava(result);
}

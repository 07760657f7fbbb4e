// Window: plain hidden pop-up windows of classes that Java names.
#include <com_ulvex_kesp_tavik_common_win32_Window.h>

#include "../jni/boundary.h"

namespace {

// WS_POPUP | WS_CAPTION | WS_SYSMENU, without WS_VISIBLE: the window starts hidden.
constexpr DWORD windowStyle = 0x80C80000;

// The same attributes as the load-time class, but with a null instance.
WNDCLASSW classDescription(const wchar_t* className) {
    WNDCLASSW windowClass{};
    windowClass.style = CS_GLOBALCLASS | CS_NOCLOSE | CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = nullptr;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_SCROLLBAR + 1);
    windowClass.lpszClassName = className;
    return windowClass;
}

}  // namespace

// The window handle, 0 when Windows refuses, -1 when a name could not be converted or holds
// U+0000 (Windows would read a shorter name). Both names cross as UTF-16; the class name is not
// copied after a window name that is refused. A class that exists already (an earlier call's,
// or the load-time class) makes its registration fail, and the window is made from the class
// that exists.
JNIEXPORT jint JNICALL Java_com_ulvex_kesp_tavik_common_win32_Window_createWindow(
    JNIEnv* env, jclass, jstring windowName, jstring className, jint, jint, jint x, jint y,
    jint width, jint height) {
    jint result = -1;
    ulvex::runGuarded([&] {
        ulvex::WideString title(env, windowName);
        if (!title.whole()) {
            return;
        }
        ulvex::WideString name(env, className);
        if (!name.whole()) {
            return;
        }
        WNDCLASSW windowClass = classDescription(name.get());
        RegisterClassW(&windowClass);
        HWND window = CreateWindowExW(0, name.get(), title.get(), windowStyle, x, y, width, height,
                                      nullptr, nullptr, nullptr, nullptr);
        result = ulvex::windowToJava(window);
    });
    return result;
}

// Whether the window was visible before; false for handle 0, which makes no Windows call.
JNIEXPORT jboolean JNICALL Java_com_ulvex_kesp_tavik_common_win32_Window_showWindow(
    JNIEnv*, jclass, jint window, jint showCommand) {
    if (window == 0) {
        return JNI_FALSE;
    }
    return ulvex::windowsBoolToJava(ShowWindow(ulvex::windowFromJava(window), showCommand));
}

JNIEXPORT void JNICALL Java_com_ulvex_kesp_tavik_common_win32_Window_destroyWindow(JNIEnv*, jclass,
                                                                                   jint window) {
    if (window != 0) {
        DestroyWindow(ulvex::windowFromJava(window));
    }
}

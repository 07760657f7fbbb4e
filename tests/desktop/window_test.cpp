// Window: hidden pop-up windows of named classes, shown, hidden and destroyed.
#include <com_ulvex_kesp_tavik_common_win32_Window.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "import_hook.h"
#include "jni_host.h"
#include "library.h"

namespace {

using jnitest::ImportHook;

constexpr DWORD popupStyle = 0x80C80000;  // WS_POPUP | WS_CAPTION | WS_SYSMENU

HWND windowOf(jint handle) {
    return reinterpret_cast<HWND>(static_cast<INT_PTR>(handle));
}

// What the library handed to user32, recorded by the replacements below.
struct Seen {
    int registrations = 0;
    WNDCLASSW windowClass{};
    std::wstring className;
    ATOM atom = 0;
    int creations = 0;
    DWORD exStyle = 0, style = 0;
    HWND parent = nullptr;
    HMENU menu = nullptr;
    HINSTANCE instance = nullptr;
    void* parameter = nullptr;
    std::vector<HWND> shown, destroyed;
    BOOL showAnswer = 0;
};
Seen seen;
decltype(&RegisterClassW) realRegisterClass;
decltype(&CreateWindowExW) realCreateWindow;

ATOM WINAPI recordRegisterClass(const WNDCLASSW* windowClass) {
    ++seen.registrations;
    seen.windowClass = *windowClass;
    seen.className = windowClass->lpszClassName;
    seen.atom = realRegisterClass(windowClass);
    return seen.atom;
}

HWND WINAPI recordCreateWindow(DWORD exStyle, LPCWSTR className, LPCWSTR title, DWORD style, int x,
                               int y, int width, int height, HWND parent, HMENU menu,
                               HINSTANCE instance, LPVOID parameter) {
    ++seen.creations;
    seen.exStyle = exStyle;
    seen.style = style;
    seen.parent = parent;
    seen.menu = menu;
    seen.instance = instance;
    seen.parameter = parameter;
    return realCreateWindow(exStyle, className, title, style, x, y, width, height, parent, menu,
                            instance, parameter);
}

BOOL WINAPI recordShowWindow(HWND window, int) {
    seen.shown.push_back(window);
    return seen.showAnswer;
}

BOOL WINAPI recordDestroyWindow(HWND window) {
    seen.destroyed.push_back(window);
    return TRUE;
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override { seen = Seen{}; }

    jint create(jstring title, jstring className, int x = 10, int y = 20, int width = 300,
                int height = 200) {
        return host.call(createWindow, title, className, 7, 8, x, y, width, height);
    }
    jint create(const char* title, const char* className) {
        return create(host.string(title), host.string(className));
    }
    // Intercepts RegisterClassW and CreateWindowExW for the life of the returned hooks.
    std::vector<std::unique_ptr<ImportHook>> recordCreation() {
        std::vector<std::unique_ptr<ImportHook>> hooks;
        hooks.push_back(std::make_unique<ImportHook>(library.handle(), "USER32.dll",
                                                     "RegisterClassW", &recordRegisterClass));
        hooks.push_back(std::make_unique<ImportHook>(library.handle(), "USER32.dll",
                                                     "CreateWindowExW", &recordCreateWindow));
        realRegisterClass =
            hooks[0]->original<std::remove_pointer_t<decltype(realRegisterClass)>>();
        realCreateWindow = hooks[1]->original<std::remove_pointer_t<decltype(realCreateWindow)>>();
        return hooks;
    }

    jnitest::Library library;
    jnitest::JniHost host;
    decltype(&Java_com_ulvex_kesp_tavik_common_win32_Window_createWindow) createWindow =
        library.get<decltype(Java_com_ulvex_kesp_tavik_common_win32_Window_createWindow)>(
            "Java_com_ulvex_kesp_tavik_common_win32_Window_createWindow");
    decltype(&Java_com_ulvex_kesp_tavik_common_win32_Window_showWindow) showWindow =
        library.get<decltype(Java_com_ulvex_kesp_tavik_common_win32_Window_showWindow)>(
            "Java_com_ulvex_kesp_tavik_common_win32_Window_showWindow");
    decltype(&Java_com_ulvex_kesp_tavik_common_win32_Window_destroyWindow) destroyWindow =
        library.get<decltype(Java_com_ulvex_kesp_tavik_common_win32_Window_destroyWindow)>(
            "Java_com_ulvex_kesp_tavik_common_win32_Window_destroyWindow");
};

TEST_F(WindowTest, NewWindowIsAHiddenPopupWithoutParent) {
    auto hooks = recordCreation();
    jint handle =
        create(host.string("Ulvex title"), host.string("UlvexTestPlain"), 15, 25, 320, 240);
    HWND window = windowOf(handle);
    ASSERT_TRUE(IsWindow(window));
    EXPECT_FALSE(IsWindowVisible(window));
    LONG_PTR style = GetWindowLongPtrA(window, GWL_STYLE);
    EXPECT_EQ(style & popupStyle, popupStyle);
    EXPECT_EQ(style & WS_VISIBLE, 0);
    EXPECT_EQ(GetParent(window), nullptr);
    EXPECT_EQ(GetWindow(window, GW_OWNER), nullptr);
    RECT frame{};
    GetWindowRect(window, &frame);
    EXPECT_EQ(frame.left, 15);
    EXPECT_EQ(frame.top, 25);
    EXPECT_EQ(frame.right - frame.left, 320);
    EXPECT_EQ(frame.bottom - frame.top, 240);
    char title[64] = {};
    GetWindowTextA(window, title, sizeof title);
    EXPECT_STREQ(title, "Ulvex title");

    EXPECT_EQ(seen.exStyle, 0u);
    EXPECT_EQ(seen.style, popupStyle);
    EXPECT_EQ(seen.parent, nullptr);
    EXPECT_EQ(seen.menu, nullptr);
    EXPECT_EQ(seen.instance, nullptr);
    EXPECT_EQ(seen.parameter, nullptr);
    DestroyWindow(window);
}

TEST_F(WindowTest, ClassIsRegisteredWithTheLibrarysAttributes) {
    auto hooks = recordCreation();
    HWND window = windowOf(create("Class check", "UlvexTestClassInfo"));
    ASSERT_TRUE(IsWindow(window));
    auto defaultProcedure = reinterpret_cast<WNDPROC>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "DefWindowProcW")));
    ASSERT_EQ(seen.registrations, 1);
    EXPECT_NE(seen.atom, 0);
    EXPECT_EQ(seen.className, L"UlvexTestClassInfo");
    EXPECT_EQ(seen.windowClass.style, 0x4203u);
    EXPECT_EQ(seen.windowClass.lpfnWndProc, defaultProcedure);
    EXPECT_EQ(seen.windowClass.cbClsExtra, 0);
    EXPECT_EQ(seen.windowClass.cbWndExtra, 0);
    EXPECT_EQ(seen.windowClass.hInstance, nullptr);
    EXPECT_EQ(seen.windowClass.hIcon, nullptr);
    EXPECT_EQ(seen.windowClass.hCursor, nullptr);
    EXPECT_EQ(seen.windowClass.hbrBackground, reinterpret_cast<HBRUSH>(1));
    EXPECT_EQ(seen.windowClass.lpszMenuName, nullptr);

    WNDCLASSA registered{};
    ASSERT_TRUE(GetClassInfoA(GetModuleHandleA(nullptr), "UlvexTestClassInfo", &registered));
    EXPECT_EQ(registered.style, 0x4203u);
    EXPECT_EQ(registered.hbrBackground, reinterpret_cast<HBRUSH>(1));
    EXPECT_EQ(GetClassLongPtrA(window, GCW_ATOM), seen.atom);
    DestroyWindow(window);
}

// Titles and class names beyond ASCII are the names the test's own W calls find and read.
TEST_F(WindowTest, NamesBeyondAsciiAreWhatWindowsShows) {
    for (const char16_t* text : {u"5\u00b0C", u"100 \u20ac", u"\u041f\u0451\u0442\u0440",
                                 u"\u6771\u4eac", u"\U0001F600"}) {
        const std::u16string title = u"Ulvex " + std::u16string(text);
        const std::u16string name = u"UlvexTest-" + std::u16string(text);
        const auto* wideTitle = reinterpret_cast<const wchar_t*>(title.c_str());
        const auto* wideName = reinterpret_cast<const wchar_t*>(name.c_str());
        HWND window = windowOf(create(host.string(title), host.string(name)));
        ASSERT_TRUE(IsWindow(window)) << host.utf8(host.string(name));
        EXPECT_EQ(FindWindowW(wideName, wideTitle), window);
        wchar_t seenText[32] = {};
        GetWindowTextW(window, seenText, 32);
        EXPECT_EQ(std::wstring(seenText), wideTitle);
        GetClassNameW(window, seenText, 32);
        EXPECT_EQ(std::wstring(seenText), wideName);
        DestroyWindow(window);
    }
}

TEST_F(WindowTest, ShowWindowAnswersWhetherTheWindowWasVisible) {
    struct Step {
        int command;
        bool answer;
        bool visibleAfter;
    };
    const Step steps[] = {{SW_SHOW, false, true},
                          {SW_SHOW, true, true},
                          {SW_HIDE, true, false},
                          {SW_HIDE, false, false},
                          {SW_SHOWNOACTIVATE, false, true}};
    jint handle = create("Shown", "UlvexTestShow");
    ASSERT_TRUE(IsWindow(windowOf(handle)));
    for (const Step& step : steps) {
        EXPECT_EQ(host.call(showWindow, handle, step.command) != 0, step.answer) << step.command;
        EXPECT_EQ(IsWindowVisible(windowOf(handle)) != 0, step.visibleAfter) << step.command;
    }
    host.call(destroyWindow, handle);
}

TEST_F(WindowTest, TwoWindowsFromOneClassName) {
    auto hooks = recordCreation();
    jint first = create("First", "UlvexTestShared");
    ATOM firstAtom = seen.atom;
    jint second = create("Second", "UlvexTestShared");
    EXPECT_NE(firstAtom, 0);
    EXPECT_EQ(seen.registrations, 2);
    EXPECT_EQ(seen.atom, 0) << "the second registration fails silently";
    ASSERT_TRUE(IsWindow(windowOf(first)));
    ASSERT_TRUE(IsWindow(windowOf(second)));
    EXPECT_NE(first, second);
    EXPECT_EQ(GetClassLongPtrA(windowOf(second), GCW_ATOM), firstAtom);
    host.call(destroyWindow, first);
    host.call(destroyWindow, second);
}

TEST_F(WindowTest, WindowOfTheLoadTimeClass) {
    auto hooks = recordCreation();
    HWND window = windowOf(create("Load-time class", "MYULVEXWIN32"));
    ASSERT_TRUE(IsWindow(window));
    EXPECT_EQ(seen.atom, 0) << "the load-time class exists already";
    char className[32] = {};
    GetClassNameA(window, className, sizeof className);
    EXPECT_STREQ(className, "MYULVEXWIN32");
    EXPECT_EQ(reinterpret_cast<HMODULE>(GetClassLongPtrA(window, GCLP_HMODULE)), library.handle());
    DestroyWindow(window);
}

TEST_F(WindowTest, DestroyWindowEndsTheWindow) {
    jint handle = create("Destroyed", "UlvexTestDestroy");
    ASSERT_TRUE(IsWindow(windowOf(handle)));
    host.call(destroyWindow, handle);
    EXPECT_FALSE(IsWindow(windowOf(handle)));
}

TEST_F(WindowTest, HandleZeroMakesNoWindowsCall) {
    ImportHook show(library.handle(), "USER32.dll", "ShowWindow", &recordShowWindow);
    ImportHook destroy(library.handle(), "USER32.dll", "DestroyWindow", &recordDestroyWindow);
    seen.showAnswer = TRUE;
    EXPECT_EQ(host.call(showWindow, 0, SW_SHOW), JNI_FALSE);
    host.call(destroyWindow, 0);
    EXPECT_TRUE(seen.shown.empty());
    EXPECT_TRUE(seen.destroyed.empty());
}

// Any other handle, -1 included, is widened by sign extension and passed on; the answer is
// the low byte of ShowWindow's BOOL.
TEST_F(WindowTest, OtherHandlesArePassedOnSignExtended) {
    struct Case {
        jint handle;
        UINT_PTR widened;
        BOOL showAnswer;
        jboolean expected;
    };
    const Case cases[] = {{-1, ~UINT_PTR{0}, 1, JNI_TRUE},
                          {-1, ~UINT_PTR{0}, 0, JNI_FALSE},
                          {-2147483000, 0xFFFFFFFF80000288u, 0x101, JNI_TRUE},
                          {0x1234, 0x1234, 0x100, JNI_FALSE}};
    ImportHook show(library.handle(), "USER32.dll", "ShowWindow", &recordShowWindow);
    ImportHook destroy(library.handle(), "USER32.dll", "DestroyWindow", &recordDestroyWindow);
    for (const Case& c : cases) {
        seen = Seen{};
        seen.showAnswer = c.showAnswer;
        EXPECT_EQ(host.call(showWindow, c.handle, SW_SHOW), c.expected) << c.handle;
        host.call(destroyWindow, c.handle);
        ASSERT_EQ(seen.shown.size(), 1u);
        ASSERT_EQ(seen.destroyed.size(), 1u);
        EXPECT_EQ(reinterpret_cast<UINT_PTR>(seen.shown[0]), c.widened) << c.handle;
        EXPECT_EQ(reinterpret_cast<UINT_PTR>(seen.destroyed[0]), c.widened) << c.handle;
    }
}

// A name that gives no string, or holds U+0000 (Windows would read a shorter name): -1, nothing
// registered or made, and the class name not copied after a refused window name.
TEST_F(WindowTest, MissingNameGivesMinusOneWithoutWindowsCall) {
    struct Case {
        const char* what;
        const char16_t* title;  // null: a null reference
        const char16_t* className;
        int copied;
    };
    const std::u16string titleWithNul(u"Title\0Other", 11);
    const std::u16string classWithNul(u"UlvexTestMissing\0", 17);
    const Case cases[] = {{"null window name", nullptr, u"UlvexTestMissing", 0},
                          {"null class name", u"Title", nullptr, 1},
                          {"window name with U+0000", titleWithNul.c_str(), u"UlvexTestMissing", 1},
                          {"class name with U+0000", u"Title", classWithNul.c_str(), 2}};
    auto hooks = recordCreation();
    for (const Case& c : cases) {
        jnitest::JniHost local;
        seen = Seen{};
        auto string = [&](const char16_t* text, const std::u16string& withNul) {
            return text == nullptr ? nullptr
                                   : local.string(text == withNul.c_str() ? withNul : text);
        };
        jstring title = string(c.title, titleWithNul);
        jstring className = string(c.className, classWithNul);
        EXPECT_EQ(local.call(createWindow, title, className, 0, 0, 0, 0, 100, 100), -1) << c.what;
        EXPECT_EQ(seen.registrations, 0) << c.what;
        EXPECT_EQ(seen.creations, 0) << c.what;
        EXPECT_EQ(local.stringRegions(), c.copied) << c.what;
        EXPECT_FALSE(local.exceptionPending()) << c.what;
    }
}

TEST_F(WindowTest, RefusedWindowGivesZero) {
    jint handle = create("Refused", "");
    EXPECT_EQ(handle, 0);
    EXPECT_EQ(host.stringRegions(), 2);
}

}  // namespace

// The entry routine: the load-time window class "MYULVEXWIN32" and the guarded scopes' TLS slot
// live while the library is loaded.
//
// The DLL's entry point is its own, not the C runtime's start-up code: that code brings a TLS
// directory whose callbacks the Windows loader calls through Control Flow Guard, and the
// compiler that built them left them out of the guard table, which ends a process that enforces
// the guard. The library has no thread-local data, nothing registered with atexit and no
// imported data to relocate, so all it needs of that code is its static initialisation.
#include <cstddef>

#include "boundary.h"
#include "guarded.h"

// The constructors of static objects, in the table the linker lays out: -1, the constructors,
// then a null. They run last to first, as the C runtime's start-up code runs them.
extern "C" void (*__CTOR_LIST__[])();

namespace ulvex {

HINSTANCE moduleHandle = nullptr;
UINT_PTR windowClassAtom = 0;

namespace {

void registerLoadTimeClass() {
    WNDCLASSW windowClass{};
    windowClass.style = CS_GLOBALCLASS | CS_NOCLOSE | CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = moduleHandle;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_SCROLLBAR + 1);
    windowClass.lpszClassName = L"MYULVEXWIN32";
    windowClassAtom = RegisterClassW(&windowClass);
}

void unregisterLoadTimeClass() {
    if (windowClassAtom != 0) {
        UnregisterClassA(MAKEINTATOM(windowClassAtom), moduleHandle);
    }
}

void runStaticInitialisers() {
    std::size_t count = 0;
    while (__CTOR_LIST__[count + 1] != nullptr) {
        ++count;
    }
    for (std::size_t index = count; index > 0; --index) {
        __CTOR_LIST__[index]();
    }
}

}  // namespace
}  // namespace ulvex

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    ulvex::moduleHandle = module;
    if (reason == DLL_PROCESS_ATTACH) {
        ulvex::allocateGuardSlot();
        ulvex::registerLoadTimeClass();
    } else if (reason == DLL_PROCESS_DETACH) {
        ulvex::unregisterLoadTimeClass();
        ulvex::freeGuardSlot();
    }
    return TRUE;
}

// The entry point the loader calls: static initialisation first, then DllMain, in the order the
// C runtime's start-up code keeps.
extern "C" BOOL WINAPI DllMainCRTStartup(HINSTANCE module, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        ulvex::runStaticInitialisers();
    }
    return DllMain(module, reason, reserved);
}

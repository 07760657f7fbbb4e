// The entry routine: the load-time window class "MYULVEXWIN32" and the guarded scopes' TLS slot
// live while the library is loaded.
#include "boundary.h"
#include "guarded.h"

namespace ulvex {

HINSTANCE moduleHandle = nullptr;
UINT_PTR windowClassAtom = 0;

namespace {

void registerLoadTimeClass() {
    WNDCLASSA windowClass{};
    windowClass.style = CS_GLOBALCLASS | CS_NOCLOSE | CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = moduleHandle;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_SCROLLBAR + 1);
    windowClass.lpszClassName = "MYULVEXWIN32";
    windowClassAtom = RegisterClassA(&windowClass);
}

void unregisterLoadTimeClass() {
    if (windowClassAtom != 0) {
        UnregisterClassA(MAKEINTATOM(windowClassAtom), moduleHandle);
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

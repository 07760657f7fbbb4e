// The entry routine: the load-time window class "MYULVEXWIN32" and the guarded scopes' TLS slot
// live while the library is loaded.
//
// The DLL's entry point is its own, not the C runtime's start-up code: that code brings a TLS
// directory whose callbacks the Windows loader calls through Control Flow Guard, and the
// compiler that built them left them out of the guard table, which ends a process that enforces
// the guard. The library has no thread-local data, nothing registered with atexit and no
// imported data to relocate, so all it needs of that code is its static initialisation.
//
// The entry point and the initialiser loop have no stack protector and inline nothing that has
// one: a static initialiser may set the canary (the C runtime's own does), and a protected frame
// live across that change would fail its check on return.
#include <windows.h>

#include <ntsecapi.h>

#include <cstddef>
#include <cstdint>

#include "boundary.h"
#include "guarded.h"

// The constructors of static objects, in the table the linker lays out: -1, the constructors,
// then a null. They run last to first, as the C runtime's start-up code runs them.
extern "C" void (*__CTOR_LIST__[])();
// The canary that compiled functions check on return.
extern "C" std::uintptr_t __stack_chk_guard;

namespace ulvex {

HINSTANCE moduleHandle = nullptr;
UINT_PTR windowClassAtom = 0;

namespace {

// The default value of a /GS security cookie, which a loader that reads the load configuration
// replaces with a random one.
constexpr std::uintptr_t defaultCanary = 0x00002B992DDFA232;

// Where no loader replaced the default (an older Windows, a host that maps the image itself),
// the canary is drawn here, before any protected function runs. Should the system's generator
// fail, the canary mixes what differs between processes and loads, as the C runtime's cookie
// set-up does.
[[gnu::no_stack_protector, gnu::noinline]] void seedCanary() {
    if (__stack_chk_guard != defaultCanary) {
        return;
    }
    std::uintptr_t seed = 0;
    if (!RtlGenRandom(&seed, sizeof seed)) {
        LARGE_INTEGER counter{};
        QueryPerformanceCounter(&counter);
        seed = static_cast<std::uintptr_t>(counter.QuadPart) ^ GetTickCount64() ^
               (static_cast<std::uintptr_t>(GetCurrentProcessId()) << 32) ^ GetCurrentThreadId() ^
               reinterpret_cast<std::uintptr_t>(&counter);
    }
    __stack_chk_guard = seed != defaultCanary ? seed : ~seed;
}

[[gnu::no_stack_protector, gnu::noinline]] void runStaticInitialisers() {
    std::size_t count = 0;
    while (__CTOR_LIST__[count + 1] != nullptr) {
        ++count;
    }
    for (std::size_t index = count; index > 0; --index) {
        __CTOR_LIST__[index]();
    }
}

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

}  // namespace
}  // namespace ulvex

// Threads that start and end are no concern of the library: the loader need not call it for
// them. At process termination (`reserved` not null) the process takes back the class and the
// slot itself, and other threads may have ended holding locks: the detach does nothing then.
extern "C" [[gnu::noinline]] BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
    ulvex::moduleHandle = module;
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(module);
        ulvex::allocateGuardSlot();
        ulvex::registerLoadTimeClass();
    } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        ulvex::unregisterLoadTimeClass();
        ulvex::freeGuardSlot();
    }
    return TRUE;
}

// The entry point the loader calls: the canary first, then static initialisation, then DllMain,
// in the order the C runtime's start-up code keeps.
extern "C" [[gnu::no_stack_protector]] BOOL WINAPI DllMainCRTStartup(HINSTANCE module, DWORD reason,
                                                                     LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        ulvex::seedCanary();
        ulvex::runStaticInitialisers();
    }
    return DllMain(module, reason, reserved);
}

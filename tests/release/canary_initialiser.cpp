// A static initialiser that sets the stack canary while its DLL loads, as the C runtime's own
// does where the runtime brings the canary: linked with the library's start-up code into
// canary_startup.dll.
#include <cstdint>

extern "C" std::uintptr_t __stack_chk_guard;

namespace {

struct CanarySetter {
    CanarySetter() { __stack_chk_guard ^= 0x5A5A5A5A5A5A; }
} canarySetter;

}  // namespace

// A page heap for the library under test, as Windows' page heap: every block ends exactly where
// a no-access page begins, so a read or write one byte past it faults at once; the slack before
// the block holds a pattern that is checked when the block is freed; a freed block's pages become
// no-access and stay reserved for a while, so that a use after free faults as well. A damaged
// pattern, a double free or a free of an address the heap did not give ends the process with a
// message, as a page heap stop does.
#pragma once

#include <windows.h>

namespace jnitest {

LPVOID WINAPI guardedHeapAlloc(HANDLE heap, DWORD flags, SIZE_T size);
BOOL WINAPI guardedHeapFree(HANDLE heap, DWORD flags, LPVOID block);

// Blocks given out and not freed yet, in every thread.
long guardedBlocksHeld();

// Points the module's HeapAlloc and HeapFree imports at the two above; a module that imports
// neither is left as it is.
void useGuardedHeap(HMODULE module);

}  // namespace jnitest

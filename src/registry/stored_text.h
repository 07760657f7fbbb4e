// The stored form of registry text, in both directions: what a value name given to the A
// functions is to the W functions, and how text read as UTF-16 is told to be the library's own.
//
// keySetValue hands Windows the modified UTF-8 bytes of a Java string through RegSetValueExA,
// which reads them in the ANSI code page and stores the UTF-16 that gives. Such text converts
// back to those bytes without loss, and the bytes are well-formed modified UTF-8. Text that
// other programs store rarely does both when it holds a character beyond ASCII.
#pragma once

#include <windows.h>

#include "../jni/heap.h"

namespace ulvex {

// A name's modified UTF-8 bytes read in the ANSI code page, as the A functions read them, for
// the W functions: on the stack up to stackUnits units, in a heap block above that. get() is
// null when the block cannot be had or the bytes do not convert.
class StoredName {
public:
    static constexpr int stackUnits = 256;

    explicit StoredName(const char* bytes);
    StoredName(const StoredName&) = delete;
    StoredName& operator=(const StoredName&) = delete;

    const wchar_t* get() const { return text_; }

private:
    wchar_t stack_[stackUnits];
    HeapBuffer heap_;
    const wchar_t* text_ = nullptr;
};

// `text` holds `length` UTF-16 units followed by a NUL. When it is text in the library's stored
// form, it is replaced by the modified UTF-8 it stores, decoded, which is never longer, and
// NUL-terminated. Returns the length of the text now held, or -1 when no memory for the check
// could be had.
int fromStoredForm(wchar_t* text, int length);

}  // namespace ulvex

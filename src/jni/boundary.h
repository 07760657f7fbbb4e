// The Java boundary shared by every export: library-wide values, the conversions of Java
// values into Windows values and back, and scoped holders for converted strings.
#pragma once

#include <windows.h>

#include <jni.h>

#include "guarded.h"
#include "heap.h"

namespace ulvex {

// Written by the entry routine while Windows loads the library; only read afterwards.
extern HINSTANCE moduleHandle;
extern UINT_PTR windowClassAtom;

// Handles travel as Java ints: sign-extended on the way in, low 32 bits on the way out.
inline HANDLE handleFromJava(jint value) {
    return reinterpret_cast<HANDLE>(static_cast<INT_PTR>(value));
}
inline HWND windowFromJava(jint value) {
    return reinterpret_cast<HWND>(static_cast<INT_PTR>(value));
}
inline HKEY keyFromJava(jint value) {
    return reinterpret_cast<HKEY>(static_cast<INT_PTR>(value));
}
inline jint handleToJava(HANDLE handle) {
    return static_cast<jint>(static_cast<DWORD>(reinterpret_cast<UINT_PTR>(handle)));
}
inline jint windowToJava(HWND window) {
    return static_cast<jint>(static_cast<DWORD>(reinterpret_cast<UINT_PTR>(window)));
}

// Java ints cross as the same 32 bits in both directions.
inline DWORD dwordFromJava(jint value) {
    return static_cast<DWORD>(value);
}
inline jint dwordToJava(DWORD value) {
    return static_cast<jint>(value);
}

// A truth value the library works out itself.
inline jboolean booleanToJava(bool value) {
    return value ? JNI_TRUE : JNI_FALSE;
}
// A Windows BOOL handed back as a Java boolean keeps its low byte.
inline jboolean windowsBoolToJava(BOOL value) {
    return static_cast<jboolean>(value & 0xFF);
}
// A Java boolean argument is true when its byte is not 0.
inline bool booleanFromJava(jboolean value) {
    return value != 0;
}

// Modified UTF-8 bytes of a Java string, converted once and released once. A null reference
// is not converted; get() is then null, as it is when the virtual machine cannot convert.
class ScopedUtfChars {
public:
    ScopedUtfChars(JNIEnv* env, jstring string);
    ~ScopedUtfChars();
    ScopedUtfChars(const ScopedUtfChars&) = delete;
    ScopedUtfChars& operator=(const ScopedUtfChars&) = delete;

    const char* get() const { return bytes_; }
    // Releases now rather than at scope exit.
    void release();

private:
    JNIEnv* env_;
    jstring string_;
    const char* bytes_;
};

// The UTF-16 units of a Java string, copied once (GetStringLength, GetStringRegion) into a
// buffer of the holder's own and NUL-terminated: on the stack up to stackUnits units, in a block
// of the process heap above that. Nothing stays pinned, so the text may be handed to Windows
// calls that wait. A null reference is not converted, and get() is then null, as it is when the
// heap block cannot be had. Unpaired surrogates are copied as they are. The block is freed at
// scope exit, and also when a structured exception unwinds a guarded frame (see guarded.h).
class WideString final : public UnwindRelease {
public:
    static constexpr jsize stackUnits = MAX_PATH;

    WideString(JNIEnv* env, jstring string);

    bool isNull() const { return isNull_; }
    const wchar_t* get() const { return text_; }
    jsize length() const { return length_; }
    // The string holds U+0000, where Windows would end NUL-terminated text.
    bool holdsNul() const { return holdsNul_; }
    // Windows reads all of it as NUL-terminated text: converted, and holding no U+0000.
    bool whole() const { return text_ != nullptr && !holdsNul_; }

    void releaseOnUnwind() override {
        text_ = nullptr;
        heap_.release();
    }

private:
    wchar_t stack_[stackUnits + 1];
    HeapBuffer heap_;
    const wchar_t* text_;
    jsize length_;
    bool isNull_;
    bool holdsNul_;
};

// A Java string of the `length` UTF-16 units Windows produced at `text`; null, with the virtual
// machine's error pending, when it cannot be made.
jstring newJavaString(JNIEnv* env, const wchar_t* text, DWORD length);

// UTF-16 text allocated by the system with LocalAlloc, freed with LocalFree.
class LocalText {
public:
    LocalText(wchar_t* text, DWORD length) : text_(text), length_(length) {}
    ~LocalText();
    LocalText(LocalText&& other) noexcept : text_(other.text_), length_(other.length_) {
        other.text_ = nullptr;
    }
    LocalText& operator=(LocalText&&) = delete;
    LocalText(const LocalText&) = delete;
    LocalText& operator=(const LocalText&) = delete;

    const wchar_t* get() const { return text_; }
    DWORD length() const { return length_; }

private:
    wchar_t* text_;
    DWORD length_;
};

// Makes RegistryException pending with `message`. Control comes back to the caller, which goes
// on to its ordinary end. When the class cannot be found its NoClassDefFoundError stays pending.
void throwRegistryException(JNIEnv* env, const char* message);

// The system's message text for a Windows error code, or an empty holder when there is none.
LocalText systemErrorText(DWORD code);

// Raises RegistryException with the system's text for `code`, encoded as the modified UTF-8 that
// ThrowNew takes, or with "Windows error <code>" when the system has no text for it or the
// encoded text finds no room.
void throwRegistryExceptionForCode(JNIEnv* env, DWORD code);

}  // namespace ulvex

#include "boundary.h"

#include <algorithm>

namespace ulvex {

namespace {

const char registryExceptionClass[] = "com/ulvex/kesp/tavik/common/win32/RegistryException";

static_assert(sizeof(wchar_t) == sizeof(jchar), "UTF-16 units cross unchanged");

// The modified UTF-8 of `count` UTF-16 units, NUL-terminated, into `out`, which has room for three
// bytes a unit and the NUL. Each unit is encoded on its own: a supplementary character as two
// three-byte sequences, U+0000 as C0 80.
void encodeModifiedUtf8(const wchar_t* units, DWORD count, char* out) {
    for (DWORD i = 0; i < count; ++i) {
        unsigned unit = units[i];
        if (unit != 0 && unit < 0x80) {
            *out++ = static_cast<char>(unit);
        } else if (unit < 0x800) {
            *out++ = static_cast<char>(0xC0 | (unit >> 6));
            *out++ = static_cast<char>(0x80 | (unit & 0x3F));
        } else {
            *out++ = static_cast<char>(0xE0 | (unit >> 12));
            *out++ = static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
            *out++ = static_cast<char>(0x80 | (unit & 0x3F));
        }
    }
    *out = '\0';
}

// Raises RegistryException with the system's text for `code`; false when there is no text or no
// room for its modified UTF-8.
bool throwSystemText(JNIEnv* env, DWORD code) {
    LocalText text = systemErrorText(code);
    if (text.get() == nullptr) {
        return false;
    }
    StagingBuffer bytes(static_cast<std::size_t>(text.length()) * 3 + 1);
    if (bytes.get() == nullptr) {
        return false;
    }
    encodeModifiedUtf8(text.get(), text.length(), bytes.as<char>());
    throwRegistryException(env, bytes.as<char>());
    return true;
}

}  // namespace

WideString::WideString(JNIEnv* env, jstring string)
    : text_(nullptr), length_(0), isNull_(string == nullptr), holdsNul_(false) {
    if (isNull_) {
        return;
    }
    length_ = env->GetStringLength(string);
    wchar_t* units = stack_;
    if (length_ > stackUnits) {
        if (!heap_.allocate((static_cast<std::size_t>(length_) + 1) * sizeof(wchar_t))) {
            return;
        }
        units = heap_.as<wchar_t>();
    }
    env->GetStringRegion(string, 0, length_, reinterpret_cast<jchar*>(units));
    units[length_] = L'\0';
    holdsNul_ = std::find(units, units + length_, L'\0') != units + length_;
    text_ = units;
}

jstring newJavaString(JNIEnv* env, const wchar_t* text, DWORD length) {
    return env->NewString(reinterpret_cast<const jchar*>(text), static_cast<jsize>(length));
}

ScopedUtfChars::ScopedUtfChars(JNIEnv* env, jstring string)
    : env_(env),
      string_(string),
      bytes_(string != nullptr ? env->GetStringUTFChars(string, nullptr) : nullptr) {}

ScopedUtfChars::~ScopedUtfChars() {
    release();
}

void ScopedUtfChars::release() {
    if (bytes_ != nullptr) {
        env_->ReleaseStringUTFChars(string_, bytes_);
        bytes_ = nullptr;
    }
}

LocalText::~LocalText() {
    if (text_ != nullptr) {
        LocalFree(text_);
    }
}

void throwRegistryException(JNIEnv* env, const char* message) {
    jclass exceptionClass = env->FindClass(registryExceptionClass);
    if (exceptionClass != nullptr) {
        env->ThrowNew(exceptionClass, message);
    }
}

LocalText systemErrorText(DWORD code) {
    wchar_t* text = nullptr;
    DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&text),
        0, nullptr);
    return LocalText(text, text != nullptr ? length : 0);
}

void throwRegistryExceptionForCode(JNIEnv* env, DWORD code) {
    if (throwSystemText(env, code)) {
        return;
    }
    // user32's formatter: no C runtime formatting machinery in the library.
    char fallback[32];
    wsprintfA(fallback, "Windows error %lu", static_cast<unsigned long>(code));
    throwRegistryException(env, fallback);
}

}  // namespace ulvex

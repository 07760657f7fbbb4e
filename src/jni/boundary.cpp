#include "boundary.h"

namespace ulvex {

namespace {
const char registryExceptionClass[] = "com/ulvex/kesp/tavik/common/win32/RegistryException";
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
    char* text = nullptr;
    FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0,
        nullptr);
    return LocalText(text);
}

void throwRegistryExceptionForCode(JNIEnv* env, DWORD code) {
    LocalText text = systemErrorText(code);
    if (text.get() != nullptr) {
        throwRegistryException(env, text.get());
        return;
    }
    // user32's formatter: no C runtime formatting machinery in the library.
    char fallback[32];
    wsprintfA(fallback, "Windows error %lu", static_cast<unsigned long>(code));
    throwRegistryException(env, fallback);
}

}  // namespace ulvex

// The strict JNI host. Its function table is built once: every slot starts as a trap that
// records its own index and name, and only the operations the library may use are then
// replaced by working functions. Each function finds its host through the JNIEnv it is given.
#include "jni_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <deque>
#include <map>
#include <set>
#include <unordered_set>
#include <utility>

namespace jnitest {

namespace {

constexpr std::size_t kGuardSize = 16;
constexpr std::uint8_t kGuardByte = 0xA5;
constexpr std::size_t kSlotCount = sizeof(JNINativeInterface_) / sizeof(void*);
static_assert(sizeof(JNINativeInterface_) % sizeof(void*) == 0);

// The slots of the function table in order, as the JNI headers of Java 17 name them.
// clang-format off
constexpr const char* kSlotNames[] = {
    "reserved0", "reserved1", "reserved2", "reserved3", "GetVersion", "DefineClass", "FindClass",
    "FromReflectedMethod", "FromReflectedField", "ToReflectedMethod", "GetSuperclass",
    "IsAssignableFrom", "ToReflectedField", "Throw", "ThrowNew", "ExceptionOccurred",
    "ExceptionDescribe", "ExceptionClear", "FatalError", "PushLocalFrame", "PopLocalFrame",
    "NewGlobalRef", "DeleteGlobalRef", "DeleteLocalRef", "IsSameObject", "NewLocalRef",
    "EnsureLocalCapacity", "AllocObject", "NewObject", "NewObjectV", "NewObjectA",
    "GetObjectClass", "IsInstanceOf", "GetMethodID", "CallObjectMethod", "CallObjectMethodV",
    "CallObjectMethodA", "CallBooleanMethod", "CallBooleanMethodV", "CallBooleanMethodA",
    "CallByteMethod", "CallByteMethodV", "CallByteMethodA", "CallCharMethod", "CallCharMethodV",
    "CallCharMethodA", "CallShortMethod", "CallShortMethodV", "CallShortMethodA", "CallIntMethod",
    "CallIntMethodV", "CallIntMethodA", "CallLongMethod", "CallLongMethodV", "CallLongMethodA",
    "CallFloatMethod", "CallFloatMethodV", "CallFloatMethodA", "CallDoubleMethod",
    "CallDoubleMethodV", "CallDoubleMethodA", "CallVoidMethod", "CallVoidMethodV",
    "CallVoidMethodA", "CallNonvirtualObjectMethod", "CallNonvirtualObjectMethodV",
    "CallNonvirtualObjectMethodA", "CallNonvirtualBooleanMethod", "CallNonvirtualBooleanMethodV",
    "CallNonvirtualBooleanMethodA", "CallNonvirtualByteMethod", "CallNonvirtualByteMethodV",
    "CallNonvirtualByteMethodA", "CallNonvirtualCharMethod", "CallNonvirtualCharMethodV",
    "CallNonvirtualCharMethodA", "CallNonvirtualShortMethod", "CallNonvirtualShortMethodV",
    "CallNonvirtualShortMethodA", "CallNonvirtualIntMethod", "CallNonvirtualIntMethodV",
    "CallNonvirtualIntMethodA", "CallNonvirtualLongMethod", "CallNonvirtualLongMethodV",
    "CallNonvirtualLongMethodA", "CallNonvirtualFloatMethod", "CallNonvirtualFloatMethodV",
    "CallNonvirtualFloatMethodA", "CallNonvirtualDoubleMethod", "CallNonvirtualDoubleMethodV",
    "CallNonvirtualDoubleMethodA", "CallNonvirtualVoidMethod", "CallNonvirtualVoidMethodV",
    "CallNonvirtualVoidMethodA", "GetFieldID", "GetObjectField", "GetBooleanField", "GetByteField",
    "GetCharField", "GetShortField", "GetIntField", "GetLongField", "GetFloatField",
    "GetDoubleField", "SetObjectField", "SetBooleanField", "SetByteField", "SetCharField",
    "SetShortField", "SetIntField", "SetLongField", "SetFloatField", "SetDoubleField",
    "GetStaticMethodID", "CallStaticObjectMethod", "CallStaticObjectMethodV",
    "CallStaticObjectMethodA", "CallStaticBooleanMethod", "CallStaticBooleanMethodV",
    "CallStaticBooleanMethodA", "CallStaticByteMethod", "CallStaticByteMethodV",
    "CallStaticByteMethodA", "CallStaticCharMethod", "CallStaticCharMethodV",
    "CallStaticCharMethodA", "CallStaticShortMethod", "CallStaticShortMethodV",
    "CallStaticShortMethodA", "CallStaticIntMethod", "CallStaticIntMethodV",
    "CallStaticIntMethodA", "CallStaticLongMethod", "CallStaticLongMethodV",
    "CallStaticLongMethodA", "CallStaticFloatMethod", "CallStaticFloatMethodV",
    "CallStaticFloatMethodA", "CallStaticDoubleMethod", "CallStaticDoubleMethodV",
    "CallStaticDoubleMethodA", "CallStaticVoidMethod", "CallStaticVoidMethodV",
    "CallStaticVoidMethodA", "GetStaticFieldID", "GetStaticObjectField", "GetStaticBooleanField",
    "GetStaticByteField", "GetStaticCharField", "GetStaticShortField", "GetStaticIntField",
    "GetStaticLongField", "GetStaticFloatField", "GetStaticDoubleField", "SetStaticObjectField",
    "SetStaticBooleanField", "SetStaticByteField", "SetStaticCharField", "SetStaticShortField",
    "SetStaticIntField", "SetStaticLongField", "SetStaticFloatField", "SetStaticDoubleField",
    "NewString", "GetStringLength", "GetStringChars", "ReleaseStringChars", "NewStringUTF",
    "GetStringUTFLength", "GetStringUTFChars", "ReleaseStringUTFChars", "GetArrayLength",
    "NewObjectArray", "GetObjectArrayElement", "SetObjectArrayElement", "NewBooleanArray",
    "NewByteArray", "NewCharArray", "NewShortArray", "NewIntArray", "NewLongArray",
    "NewFloatArray", "NewDoubleArray", "GetBooleanArrayElements", "GetByteArrayElements",
    "GetCharArrayElements", "GetShortArrayElements", "GetIntArrayElements", "GetLongArrayElements",
    "GetFloatArrayElements", "GetDoubleArrayElements", "ReleaseBooleanArrayElements",
    "ReleaseByteArrayElements", "ReleaseCharArrayElements", "ReleaseShortArrayElements",
    "ReleaseIntArrayElements", "ReleaseLongArrayElements", "ReleaseFloatArrayElements",
    "ReleaseDoubleArrayElements", "GetBooleanArrayRegion", "GetByteArrayRegion",
    "GetCharArrayRegion", "GetShortArrayRegion", "GetIntArrayRegion", "GetLongArrayRegion",
    "GetFloatArrayRegion", "GetDoubleArrayRegion", "SetBooleanArrayRegion", "SetByteArrayRegion",
    "SetCharArrayRegion", "SetShortArrayRegion", "SetIntArrayRegion", "SetLongArrayRegion",
    "SetFloatArrayRegion", "SetDoubleArrayRegion", "RegisterNatives", "UnregisterNatives",
    "MonitorEnter", "MonitorExit", "GetJavaVM", "GetStringRegion", "GetStringUTFRegion",
    "GetPrimitiveArrayCritical", "ReleasePrimitiveArrayCritical", "GetStringCritical",
    "ReleaseStringCritical", "NewWeakGlobalRef", "DeleteWeakGlobalRef", "ExceptionCheck",
    "NewDirectByteBuffer", "GetDirectBufferAddress", "GetDirectBufferCapacity", "GetObjectRefType",
    "GetModule",
};
// clang-format on

std::string slotName(std::size_t slot) {
    if (slot < std::size(kSlotNames)) {
        return kSlotNames[slot];
    }
    return "slot " + std::to_string(slot);
}

enum class Kind { String, ByteArray, Integer, Plain, Throwable, Class };

struct Object {
    Object(Kind k, std::string className) : kind(k), name(std::move(className)) {}

    Kind kind;
    std::string name;      // the object's class; for a Class, the class it stands for
    std::u16string text;   // String: its characters
    std::string message;   // Throwable: its message
    std::string utfBytes;  // String made by NewStringUTF: the bytes it was made from
    bool fromNewStringUtf = false;
    std::vector<std::uint8_t> storage;  // byte[]: the elements, then the guard bytes
    bool overrun = false;               // byte[]: pinned elements were written past their end
    std::int32_t value = 0;             // Integer
};

std::size_t arrayLength(const Object& array) {
    return array.storage.size() - kGuardSize;
}

bool guardUnchanged(const std::uint8_t* guard) {
    return std::all_of(guard, guard + kGuardSize, [](std::uint8_t b) { return b == kGuardByte; });
}

std::string classNameOf(const Object& object) {
    return object.kind == Kind::Class ? "java/lang/Class" : object.name;
}

const char* kindName(Kind kind) {
    switch (kind) {
        case Kind::String:
            return "java/lang/String";
        case Kind::ByteArray:
            return "[B";
        case Kind::Integer:
            return "java/lang/Integer";
        case Kind::Class:
            return "java/lang/Class";
        case Kind::Throwable:
            return "java/lang/Throwable";
        case Kind::Plain:
            break;
    }
    return "java/lang/Object";
}

// Text encodings.

void appendUtf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The JNI's modified UTF-8: U+0000 as C0 80, and every UTF-16 unit, surrogates included,
// encoded on its own.
std::string modifiedUtf8(std::u16string_view text) {
    std::string out;
    for (char16_t unit : text) {
        if (unit == 0) {
            out += "\xC0\x80";
        } else {
            appendUtf8(out, unit);
        }
    }
    return out;
}

bool isHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool isLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Standard UTF-8; a surrogate without its partner keeps its own three-byte form.
std::string standardUtf8(std::u16string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (isHighSurrogate(text[i]) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
            appendUtf8(out, 0x10000 + ((text[i] - 0xD800u) << 10) + (text[i + 1] - 0xDC00u));
            ++i;
        } else {
            appendUtf8(out, text[i]);
        }
    }
    return out;
}

void appendUtf16(std::u16string& out, std::uint32_t c) {
    if (c < 0x10000) {
        out += static_cast<char16_t>(c);
    } else {
        out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
        out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    }
}

// The length of the well-formed sequence that starts at bytes[i], 0 if there is none. Four-byte
// sequences belong to standard UTF-8 only.
std::size_t sequenceLength(std::string_view bytes, std::size_t i, bool standard) {
    auto lead = static_cast<std::uint8_t>(bytes[i]);
    std::size_t length = lead < 0x80                         ? 1
                         : (lead & 0xE0) == 0xC0             ? 2
                         : (lead & 0xF0) == 0xE0             ? 3
                         : standard && (lead & 0xF8) == 0xF0 ? 4
                                                             : 0;
    if (length == 0 || i + length > bytes.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((static_cast<std::uint8_t>(bytes[i + k]) & 0xC0) != 0x80) {
            return 0;
        }
    }
    return length;
}

// The code point of the well-formed sequence of `length` bytes at bytes[i].
std::uint32_t sequenceValue(std::string_view bytes, std::size_t i, std::size_t length) {
    static constexpr std::uint8_t kLeadMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    std::uint32_t c = static_cast<std::uint8_t>(bytes[i]) & kLeadMask[length];
    for (std::size_t k = 1; k < length; ++k) {
        c = (c << 6) | (static_cast<std::uint8_t>(bytes[i + k]) & 0x3F);
    }
    return c;
}

// True when `bytes` are the JNI's modified UTF-8: sequences of one to three bytes, each in its
// shortest form but for C0 80, which stands for U+0000.
bool wellFormedModifiedUtf8(std::string_view bytes) {
    static constexpr std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800};
    for (std::size_t i = 0; i < bytes.size();) {
        std::size_t length = sequenceLength(bytes, i, false);
        if (length == 0) {
            return false;
        }
        std::uint32_t c = sequenceValue(bytes, i, length);
        if (c < kSmallest[length] && !(length == 2 && c == 0)) {
            return false;
        }
        i += length;
    }
    return true;
}

// The bytes in hexadecimal, for a violation's text.
std::string hexBytes(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (char byte : bytes) {
        auto b = static_cast<std::uint8_t>(byte);
        out += out.empty() ? "" : " ";
        out += kDigits[b >> 4];
        out += kDigits[b & 0xF];
    }
    return out;
}

// Reads UTF-8 (standard, or the JNI's modified form) into UTF-16. A byte that starts no
// well-formed sequence becomes U+FFFD.
std::u16string decodeUtf8(std::string_view bytes, bool standard) {
    std::u16string out;
    std::size_t i = 0;
    while (i < bytes.size()) {
        std::size_t length = sequenceLength(bytes, i, standard);
        if (length == 0) {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        appendUtf16(out, sequenceValue(bytes, i, length));
        i += length;
    }
    return out;
}

// Methods the host knows. A method id is the address of its entry.
struct Method {
    const char* className;
    const char* name;
    const char* signature;
};

constexpr Method kMethods[] = {
    {"java/lang/Integer", "<init>", "(I)V"},
    {"java/lang/Integer", "intValue", "()I"},
};
constexpr const Method& kIntegerInit = kMethods[0];
constexpr const Method& kIntValue = kMethods[1];

jmethodID methodId(const Method& method) {
    return reinterpret_cast<jmethodID>(const_cast<Method*>(&method));
}

template <typename Reference>
Reference ref(Object* object) {
    return reinterpret_cast<Reference>(object);
}

struct StringPin {
    Object* string;
    std::unique_ptr<char[]> bytes;
};

struct ArrayPin {
    Object* array;
    std::unique_ptr<std::uint8_t[]> elements;  // length + guard bytes
};

struct EnvBlock {
    JNIEnv env;
    JniHost::State* state;
};

}  // namespace

struct JniHost::State {
    EnvBlock block{};
    std::deque<Object> objects;
    std::unordered_set<const Object*> live;
    std::map<std::string, Object*, std::less<>> classes;
    Object* receiver = nullptr;
    Object* pending = nullptr;
    int raised = 0;
    std::vector<StringPin> stringPins;
    std::vector<ArrayPin> arrayPins;
    int conversions = 0;
    int stringReleases = 0;
    int arrayPinCount = 0;
    int arrayReleases = 0;
    long long bytesCopied = 0;
    int conversionFailureCountdown = 0;
    std::set<std::string, std::less<>> failingClasses;
    std::set<std::string, std::less<>> failingMethods;
    bool failNewByteArray = false;
    bool failGetByteArrayElements = false;
    bool failNewStringUtf = false;
    bool failNewString = false;
    int stringRegions = 0;
    // Operations called, as the names' addresses: recording one allocates nothing, so that a
    // timed run measures the library rather than the host.
    std::vector<const char*> callNames;
    std::vector<std::string> violations;
    // A Java method the library called, until it checks for an exception that the method may
    // have left: as under -Xcheck:jni, any call but that check or a release is objected to.
    const char* uncheckedCall = nullptr;

    void violate(std::string text) { violations.push_back(std::move(text)); }

    Object* make(Object object) {
        objects.push_back(std::move(object));
        Object* made = &objects.back();
        live.insert(made);
        return made;
    }

    Object* classNamed(std::string_view name) {
        auto found = classes.find(name);
        if (found != classes.end()) {
            return found->second;
        }
        Object* made = make(Object{Kind::Class, std::string(name)});
        classes.emplace(std::string(name), made);
        return made;
    }

    void raise(std::string_view className, std::string message) {
        Object* throwable = make(Object{Kind::Throwable, std::string(className)});
        throwable->message = std::move(message);
        pending = throwable;
        ++raised;
    }

    // The object a reference handed to the operation stands for; null, with a violation, when
    // it is null, not one of the host's, or not of the expected kind.
    Object* resolveAny(const char* operation, jobject reference) {
        if (reference == nullptr) {
            violate(std::string(operation) + " with a null reference");
            return nullptr;
        }
        auto* object = reinterpret_cast<Object*>(reference);
        if (live.count(object) == 0) {
            violate(std::string(operation) + " with a reference the virtual machine never made");
            return nullptr;
        }
        return object;
    }

    Object* resolve(const char* operation, jobject reference, Kind kind) {
        Object* object = resolveAny(operation, reference);
        if (object != nullptr && object->kind != kind) {
            violate(std::string(operation) + " with a " + classNameOf(*object) + " where a " +
                    kindName(kind) + " is expected");
            return nullptr;
        }
        return object;
    }

    // Records the operation, objecting to it while an exception is pending.
    void enter(const char* operation) {
        callNames.push_back(operation);
        if (uncheckedCall != nullptr) {
            violate(std::string("JNI call ") + operation + " without checking exceptions after " +
                    uncheckedCall);
            uncheckedCall = nullptr;
        }
        if (pending != nullptr) {
            violate(std::string("JNI call ") + operation + " while an exception is pending (" +
                    pending->name + ")");
        }
    }

    // Objects to bytes that a virtual machine would not read as modified UTF-8.
    bool wellFormed(const char* operation, std::string_view bytes) {
        if (wellFormedModifiedUtf8(bytes)) {
            return true;
        }
        violate(std::string(operation) +
                " with bytes that are not modified UTF-8: " + hexBytes(bytes));
        return false;
    }

    // A host accessor used by a test: fails the test for a reference of the wrong kind.
    const Object* inspect(const char* accessor, jobject reference, Kind kind) const {
        auto* object = reinterpret_cast<const Object*>(reference);
        if (reference == nullptr || live.count(object) == 0 || object->kind != kind) {
            ADD_FAILURE() << "JniHost::" << accessor << " needs a " << kindName(kind)
                          << " reference the host made";
            return nullptr;
        }
        return object;
    }
};

namespace {

JniHost::State& hostOf(JNIEnv* env) {
    return *reinterpret_cast<EnvBlock*>(env)->state;
}

// Strings.

const char* JNICALL getStringUTFChars(JNIEnv* env, jstring string, jboolean* isCopy) {
    JniHost::State& host = hostOf(env);
    host.enter("GetStringUTFChars");
    Object* object = host.resolve("GetStringUTFChars", string, Kind::String);
    if (object == nullptr) {
        return nullptr;
    }
    if (host.conversionFailureCountdown > 0 && --host.conversionFailureCountdown == 0) {
        host.raise("java/lang/OutOfMemoryError", "GetStringUTFChars");
        return nullptr;
    }
    std::string bytes = modifiedUtf8(object->text);
    auto copy = std::make_unique<char[]>(bytes.size() + 1);
    std::memcpy(copy.get(), bytes.c_str(), bytes.size() + 1);
    if (isCopy != nullptr) {
        *isCopy = JNI_TRUE;
    }
    const char* result = copy.get();
    host.stringPins.push_back(StringPin{object, std::move(copy)});
    ++host.conversions;
    return result;
}

void JNICALL releaseStringUTFChars(JNIEnv* env, jstring string, const char* bytes) {
    JniHost::State& host = hostOf(env);
    host.callNames.push_back("ReleaseStringUTFChars");
    Object* object = host.resolve("ReleaseStringUTFChars", string, Kind::String);
    auto pin = std::find_if(host.stringPins.begin(), host.stringPins.end(),
                            [bytes](const StringPin& p) { return p.bytes.get() == bytes; });
    if (pin == host.stringPins.end()) {
        host.violate(
            "ReleaseStringUTFChars of bytes that are not held (released twice, or never "
            "converted)");
        return;
    }
    if (object == nullptr) {
        return;
    }
    if (pin->string != object) {
        host.violate(
            "ReleaseStringUTFChars with another string reference than the one that was "
            "converted");
        return;
    }
    host.stringPins.erase(pin);
    ++host.stringReleases;
}

jstring JNICALL newStringUTF(JNIEnv* env, const char* bytes) {
    JniHost::State& host = hostOf(env);
    host.enter("NewStringUTF");
    if (bytes == nullptr) {
        host.violate("NewStringUTF with null bytes");
        return nullptr;
    }
    if (host.failNewStringUtf) {
        host.raise("java/lang/OutOfMemoryError", "NewStringUTF");
        return nullptr;
    }
    if (!host.wellFormed("NewStringUTF", bytes)) {
        return nullptr;
    }
    Object* object = host.make(Object{Kind::String, "java/lang/String"});
    object->utfBytes = bytes;
    object->text = decodeUtf8(object->utfBytes, false);
    object->fromNewStringUtf = true;
    return ref<jstring>(object);
}

jstring JNICALL newString(JNIEnv* env, const jchar* units, jsize length) {
    JniHost::State& host = hostOf(env);
    host.enter("NewString");
    if (length < 0 || (length > 0 && units == nullptr)) {
        host.violate("NewString of " + std::to_string(length) + " units at " +
                     (units == nullptr ? "null" : "an address"));
        return nullptr;
    }
    if (host.failNewString) {
        host.raise("java/lang/OutOfMemoryError", "NewString");
        return nullptr;
    }
    Object* object = host.make(Object{Kind::String, "java/lang/String"});
    object->text.assign(reinterpret_cast<const char16_t*>(units), static_cast<std::size_t>(length));
    return ref<jstring>(object);
}

jsize JNICALL getStringLength(JNIEnv* env, jstring string) {
    JniHost::State& host = hostOf(env);
    host.enter("GetStringLength");
    Object* object = host.resolve("GetStringLength", string, Kind::String);
    return object == nullptr ? 0 : static_cast<jsize>(object->text.size());
}

// Outside the string, a virtual machine raises StringIndexOutOfBoundsException.
void JNICALL getStringRegion(JNIEnv* env, jstring string, jsize start, jsize length, jchar* units) {
    JniHost::State& host = hostOf(env);
    host.enter("GetStringRegion");
    Object* object = host.resolve("GetStringRegion", string, Kind::String);
    if (object == nullptr) {
        return;
    }
    auto size = static_cast<jsize>(object->text.size());
    if (start < 0 || length < 0 || start > size - length) {
        host.violate("GetStringRegion of the units " + std::to_string(start) + ".." +
                     std::to_string(static_cast<long long>(start) + length) +
                     " outside a string of " + std::to_string(size));
        host.raise("java/lang/StringIndexOutOfBoundsException", "GetStringRegion");
        return;
    }
    if (length > 0 && units == nullptr) {
        host.violate("GetStringRegion into null units");
        return;
    }
    std::copy_n(object->text.begin() + start, length, reinterpret_cast<char16_t*>(units));
    ++host.stringRegions;
}

jsize JNICALL getStringUTFLength(JNIEnv* env, jstring string) {
    JniHost::State& host = hostOf(env);
    host.enter("GetStringUTFLength");
    Object* object = host.resolve("GetStringUTFLength", string, Kind::String);
    return object == nullptr ? 0 : static_cast<jsize>(modifiedUtf8(object->text).size());
}

// Classes, objects and exceptions.

jclass JNICALL findClass(JNIEnv* env, const char* name) {
    JniHost::State& host = hostOf(env);
    host.enter("FindClass");
    if (name == nullptr) {
        host.violate("FindClass with a null name");
        return nullptr;
    }
    if (std::strchr(name, '.') != nullptr) {
        host.violate(std::string("FindClass with \"") + name +
                     "\": class names are written with slashes");
        host.raise("java/lang/NoClassDefFoundError", name);
        return nullptr;
    }
    if (host.failingClasses.count(name) != 0) {
        host.raise("java/lang/NoClassDefFoundError", name);
        return nullptr;
    }
    return ref<jclass>(host.classNamed(name));
}

jint JNICALL throwNew(JNIEnv* env, jclass cls, const char* message) {
    JniHost::State& host = hostOf(env);
    host.callNames.push_back("ThrowNew");
    Object* object = host.resolve("ThrowNew", cls, Kind::Class);
    if (host.pending != nullptr) {
        host.violate("ThrowNew while " + host.pending->name +
                     " is pending: an exception raised twice");
    }
    if (object == nullptr) {
        return -1;
    }
    if (message != nullptr && !host.wellFormed("ThrowNew", message)) {
        return -1;
    }
    host.raise(object->name, message == nullptr ? "" : message);
    return 0;
}

jclass JNICALL getObjectClass(JNIEnv* env, jobject object) {
    JniHost::State& host = hostOf(env);
    host.enter("GetObjectClass");
    Object* resolved = host.resolveAny("GetObjectClass", object);
    return resolved == nullptr ? nullptr : ref<jclass>(host.classNamed(classNameOf(*resolved)));
}

jboolean JNICALL isAssignableFrom(JNIEnv* env, jclass sub, jclass sup) {
    JniHost::State& host = hostOf(env);
    host.enter("IsAssignableFrom");
    Object* from = host.resolve("IsAssignableFrom", sub, Kind::Class);
    Object* to = host.resolve("IsAssignableFrom", sup, Kind::Class);
    if (from == nullptr || to == nullptr) {
        return JNI_FALSE;
    }
    return from == to || to->name == "java/lang/Object" ? JNI_TRUE : JNI_FALSE;
}

jmethodID JNICALL getMethodID(JNIEnv* env, jclass cls, const char* name, const char* signature) {
    JniHost::State& host = hostOf(env);
    host.enter("GetMethodID");
    Object* object = host.resolve("GetMethodID", cls, Kind::Class);
    if (object == nullptr) {
        return nullptr;
    }
    if (name == nullptr || signature == nullptr) {
        host.violate("GetMethodID with a null name or signature");
        return nullptr;
    }
    auto known = std::find_if(std::begin(kMethods), std::end(kMethods), [&](const Method& m) {
        return object->name == m.className && std::strcmp(name, m.name) == 0 &&
               std::strcmp(signature, m.signature) == 0;
    });
    if (known == std::end(kMethods) || host.failingMethods.count(name) != 0) {
        host.raise("java/lang/NoSuchMethodError", name);
        return nullptr;
    }
    return methodId(*known);
}

// True when a constructing call names the Integer constructor on the Integer class.
bool isIntegerConstructor(JniHost::State& host, const char* operation, jclass cls,
                          jmethodID method) {
    Object* object = host.resolve(operation, cls, Kind::Class);
    if (object == nullptr) {
        return false;
    }
    if (object->name != kIntegerInit.className || method != methodId(kIntegerInit)) {
        host.violate(std::string(operation) + " on " + object->name +
                     " with a method id that is not one of its constructors");
        return false;
    }
    return true;
}

jobject makeInteger(JniHost::State& host, jint value) {
    Object* object = host.make(Object{Kind::Integer, "java/lang/Integer"});
    object->value = value;
    return ref<jobject>(object);
}

jobject JNICALL newObject(JNIEnv* env, jclass cls, jmethodID method, ...) {
    JniHost::State& host = hostOf(env);
    host.enter("NewObject");
    if (!isIntegerConstructor(host, "NewObject", cls, method)) {
        return nullptr;
    }
    va_list args;
    va_start(args, method);
    jint value = va_arg(args, jint);
    va_end(args);
    return makeInteger(host, value);
}

// The Integer an int-returning call reads; null, with a violation, for any other call.
Object* intValueTarget(JniHost::State& host, const char* operation, jobject object,
                       jmethodID method) {
    Object* integer = host.resolve(operation, object, Kind::Integer);
    if (integer != nullptr && method != methodId(kIntValue)) {
        host.violate(std::string(operation) + " on an Integer with a method id other than " +
                     kIntValue.name);
        return nullptr;
    }
    return integer;
}

jint JNICALL callIntMethod(JNIEnv* env, jobject object, jmethodID method, ...) {
    JniHost::State& host = hostOf(env);
    host.enter("CallIntMethod");
    Object* integer = intValueTarget(host, "CallIntMethod", object, method);
    host.uncheckedCall = "CallIntMethod";
    return integer == nullptr ? 0 : integer->value;
}

jboolean JNICALL exceptionCheck(JNIEnv* env) {
    JniHost::State& host = hostOf(env);
    host.callNames.push_back("ExceptionCheck");
    host.uncheckedCall = nullptr;
    return host.pending != nullptr ? JNI_TRUE : JNI_FALSE;
}

// Byte arrays.

Object* makeByteArray(JniHost::State& host, const std::uint8_t* bytes, std::size_t length) {
    Object* array = host.make(Object{Kind::ByteArray, "[B"});
    array->storage.assign(length + kGuardSize, kGuardByte);
    std::fill_n(array->storage.begin(), length, 0);
    if (bytes != nullptr) {
        std::copy_n(bytes, length, array->storage.begin());
    }
    return array;
}

jbyteArray JNICALL newByteArray(JNIEnv* env, jsize length) {
    JniHost::State& host = hostOf(env);
    host.enter("NewByteArray");
    if (length < 0) {
        host.violate("NewByteArray with the negative length " + std::to_string(length));
        return nullptr;
    }
    if (host.failNewByteArray) {
        host.raise("java/lang/OutOfMemoryError", "NewByteArray");
        return nullptr;
    }
    return ref<jbyteArray>(makeByteArray(host, nullptr, static_cast<std::size_t>(length)));
}

// The array a region operation copies to or from; null, with a violation, when the region
// does not lie inside it or the native bytes are missing.
Object* regionArray(JniHost::State& host, const char* operation, jbyteArray array, jsize start,
                    jsize length, const void* bytes) {
    host.enter(operation);
    Object* object = host.resolve(operation, array, Kind::ByteArray);
    if (object == nullptr) {
        return nullptr;
    }
    auto size = static_cast<jsize>(arrayLength(*object));
    if (start < 0 || length < 0 || start > size - length) {
        host.violate(std::string(operation) + " of the region " + std::to_string(start) + ".." +
                     std::to_string(static_cast<long long>(start) + length) + " outside a byte[" +
                     std::to_string(size) + "]");
        return nullptr;
    }
    if (length > 0 && bytes == nullptr) {
        host.violate(std::string(operation) + " with null bytes");
        return nullptr;
    }
    host.bytesCopied += length;
    return object;
}

void JNICALL setByteArrayRegion(JNIEnv* env, jbyteArray array, jsize start, jsize length,
                                const jbyte* bytes) {
    Object* object = regionArray(hostOf(env), "SetByteArrayRegion", array, start, length, bytes);
    if (object != nullptr) {
        std::memcpy(object->storage.data() + start, bytes, static_cast<std::size_t>(length));
    }
}

void JNICALL getByteArrayRegion(JNIEnv* env, jbyteArray array, jsize start, jsize length,
                                jbyte* bytes) {
    Object* object = regionArray(hostOf(env), "GetByteArrayRegion", array, start, length, bytes);
    if (object != nullptr) {
        std::memcpy(bytes, object->storage.data() + start, static_cast<std::size_t>(length));
    }
}

jsize JNICALL getArrayLength(JNIEnv* env, jarray array) {
    JniHost::State& host = hostOf(env);
    host.enter("GetArrayLength");
    Object* object = host.resolve("GetArrayLength", array, Kind::ByteArray);
    return object == nullptr ? 0 : static_cast<jsize>(arrayLength(*object));
}

jbyte* JNICALL getByteArrayElements(JNIEnv* env, jbyteArray array, jboolean* isCopy) {
    JniHost::State& host = hostOf(env);
    host.enter("GetByteArrayElements");
    Object* object = host.resolve("GetByteArrayElements", array, Kind::ByteArray);
    if (object == nullptr) {
        return nullptr;
    }
    if (host.failGetByteArrayElements) {
        host.raise("java/lang/OutOfMemoryError", "GetByteArrayElements");
        return nullptr;
    }
    std::size_t length = arrayLength(*object);
    auto elements = std::make_unique<std::uint8_t[]>(length + kGuardSize);
    std::copy_n(object->storage.begin(), length, elements.get());
    std::fill_n(elements.get() + length, kGuardSize, kGuardByte);
    if (isCopy != nullptr) {
        *isCopy = JNI_TRUE;
    }
    auto* result = reinterpret_cast<jbyte*>(elements.get());
    host.arrayPins.push_back(ArrayPin{object, std::move(elements)});
    ++host.arrayPinCount;
    host.bytesCopied += length;
    return result;
}

void JNICALL releaseByteArrayElements(JNIEnv* env, jbyteArray array, jbyte* elements, jint mode) {
    JniHost::State& host = hostOf(env);
    host.callNames.push_back("ReleaseByteArrayElements");
    Object* object = host.resolve("ReleaseByteArrayElements", array, Kind::ByteArray);
    auto* bytes = reinterpret_cast<std::uint8_t*>(elements);
    auto pin = std::find_if(host.arrayPins.begin(), host.arrayPins.end(),
                            [bytes](const ArrayPin& p) { return p.elements.get() == bytes; });
    if (pin == host.arrayPins.end()) {
        host.violate(
            "ReleaseByteArrayElements of elements that are not held (released twice, or never "
            "pinned)");
        return;
    }
    if (object == nullptr || pin->array != object) {
        if (object != nullptr) {
            host.violate(
                "ReleaseByteArrayElements with another array reference than the one that was "
                "pinned");
        }
        return;
    }
    if (mode != 0 && mode != JNI_COMMIT && mode != JNI_ABORT) {
        host.violate("ReleaseByteArrayElements with the unknown mode " + std::to_string(mode));
        return;
    }
    std::size_t length = arrayLength(*object);
    if (!guardUnchanged(bytes + length)) {
        host.violate("ReleaseByteArrayElements: the library wrote past the end of array elements");
        object->overrun = true;
    }
    if (mode != JNI_ABORT) {
        std::copy_n(bytes, length, object->storage.begin());
        host.bytesCopied += length;
    }
    if (mode != JNI_COMMIT) {
        host.arrayPins.erase(pin);
        ++host.arrayReleases;
    }
}

// The function table.

template <std::size_t Slot>
void* JNICALL trap(JNIEnv* env) {
    JniHost::State& host = hostOf(env);
    static const std::string name = slotName(Slot);
    host.callNames.push_back(name.c_str());
    host.violate("JNI function " + name + " (table slot " + std::to_string(Slot) +
                 ") is not one the library may use");
    return nullptr;
}

template <std::size_t... Slots>
JNINativeInterface_ trapTable(std::index_sequence<Slots...>) {
    void* slots[] = {reinterpret_cast<void*>(&trap<Slots>)...};
    static_assert(sizeof slots == sizeof(JNINativeInterface_));
    JNINativeInterface_ table;
    std::memcpy(&table, slots, sizeof table);
    return table;
}

JNINativeInterface_ makeTable() {
    JNINativeInterface_ table = trapTable(std::make_index_sequence<kSlotCount>());
    table.GetStringUTFChars = &getStringUTFChars;
    table.ReleaseStringUTFChars = &releaseStringUTFChars;
    table.NewStringUTF = &newStringUTF;
    table.GetStringUTFLength = &getStringUTFLength;
    table.NewString = &newString;
    table.GetStringLength = &getStringLength;
    table.GetStringRegion = &getStringRegion;
    table.FindClass = &findClass;
    table.ThrowNew = &throwNew;
    table.GetObjectClass = &getObjectClass;
    table.IsAssignableFrom = &isAssignableFrom;
    table.GetMethodID = &getMethodID;
    table.NewObject = &newObject;
    table.CallIntMethod = &callIntMethod;
    table.ExceptionCheck = &exceptionCheck;
    table.NewByteArray = &newByteArray;
    table.SetByteArrayRegion = &setByteArrayRegion;
    table.GetByteArrayRegion = &getByteArrayRegion;
    table.GetArrayLength = &getArrayLength;
    table.GetByteArrayElements = &getByteArrayElements;
    table.ReleaseByteArrayElements = &releaseByteArrayElements;
    return table;
}

const JNINativeInterface_* functionTable() {
    static const JNINativeInterface_ table = makeTable();
    return &table;
}

}  // namespace

JniHost::JniHost() : state_(std::make_unique<State>()) {
    state_->block.env.functions = functionTable();
    state_->block.state = state_.get();
    state_->receiver = state_->classNamed("jnitest/Receiver");
}

JniHost::~JniHost() {
    for (const std::string& violation : state_->violations) {
        ADD_FAILURE() << "JNI violation: " << violation;
    }
    for (const StringPin& pin : state_->stringPins) {
        ADD_FAILURE() << "converted string \"" << standardUtf8(pin.string->text)
                      << "\" still held when the JNI host ended";
    }
    for (const ArrayPin& pin : state_->arrayPins) {
        ADD_FAILURE() << "elements of a byte[" << arrayLength(*pin.array)
                      << "] still held when the JNI host ended";
    }
}

JNIEnv* JniHost::env() {
    return &state_->block.env;
}

jclass JniHost::receiver() {
    return ref<jclass>(state_->receiver);
}

jstring JniHost::string(std::u16string_view utf16) {
    Object* object = state_->make(Object{Kind::String, "java/lang/String"});
    object->text = utf16;
    return ref<jstring>(object);
}

jstring JniHost::string(std::string_view utf8) {
    return string(decodeUtf8(utf8, true));
}

jbyteArray JniHost::byteArray(const std::vector<std::uint8_t>& bytes) {
    return ref<jbyteArray>(makeByteArray(*state_, bytes.data(), bytes.size()));
}

jobject JniHost::integer(std::int32_t value) {
    return makeInteger(*state_, value);
}

jobject JniHost::object(std::string_view className) {
    return ref<jobject>(state_->make(Object{Kind::Plain, std::string(className)}));
}

std::u16string JniHost::utf16(jstring string) const {
    const Object* object = state_->inspect("utf16", string, Kind::String);
    return object == nullptr ? std::u16string() : object->text;
}

std::string JniHost::utf8(jstring string) const {
    const Object* object = state_->inspect("utf8", string, Kind::String);
    return object == nullptr ? std::string() : standardUtf8(object->text);
}

std::string JniHost::newStringUtfBytes(jstring string) const {
    const Object* object = state_->inspect("newStringUtfBytes", string, Kind::String);
    if (object != nullptr && !object->fromNewStringUtf) {
        ADD_FAILURE() << "JniHost::newStringUtfBytes: the string was not made by NewStringUTF";
    }
    return object == nullptr ? std::string() : object->utfBytes;
}

std::vector<std::uint8_t> JniHost::bytes(jbyteArray array) const {
    const Object* object = state_->inspect("bytes", array, Kind::ByteArray);
    if (object == nullptr) {
        return {};
    }
    auto begin = object->storage.begin();
    return std::vector<std::uint8_t>(begin, begin + arrayLength(*object));
}

void JniHost::store(jbyteArray array, std::size_t offset, const std::vector<std::uint8_t>& bytes) {
    Object* object = const_cast<Object*>(state_->inspect("store", array, Kind::ByteArray));
    if (object == nullptr || offset + bytes.size() > arrayLength(*object)) {
        ADD_FAILURE() << "JniHost::store past the end of the array";
        return;
    }
    std::copy(bytes.begin(), bytes.end(), object->storage.begin() + offset);
}

bool JniHost::guardIntact(jbyteArray array) const {
    const Object* object = state_->inspect("guardIntact", array, Kind::ByteArray);
    if (object == nullptr) {
        return false;
    }
    std::size_t length = arrayLength(*object);
    bool pinsIntact =
        std::all_of(state_->arrayPins.begin(), state_->arrayPins.end(), [&](const ArrayPin& pin) {
            return pin.array != object || guardUnchanged(pin.elements.get() + length);
        });
    return !object->overrun && pinsIntact && guardUnchanged(object->storage.data() + length);
}

std::string JniHost::className(jobject object) const {
    auto* found = reinterpret_cast<const Object*>(object);
    if (object == nullptr || state_->live.count(found) == 0) {
        ADD_FAILURE() << "JniHost::className needs a reference the host made";
        return std::string();
    }
    return classNameOf(*found);
}

std::int32_t JniHost::integerValue(jobject integer) const {
    const Object* object = state_->inspect("integerValue", integer, Kind::Integer);
    return object == nullptr ? 0 : object->value;
}

bool JniHost::exceptionPending() const {
    return state_->pending != nullptr;
}

std::string JniHost::exceptionClass() const {
    return state_->pending == nullptr ? std::string() : state_->pending->name;
}

std::string JniHost::exceptionMessage() const {
    return state_->pending == nullptr ? std::string() : state_->pending->message;
}

int JniHost::exceptionsRaised() const {
    return state_->raised;
}

void JniHost::clearException() {
    state_->pending = nullptr;
}

void JniHost::failConversion(int nth) {
    state_->conversionFailureCountdown = nth;
}

void JniHost::failFindClass(std::string_view className) {
    state_->failingClasses.emplace(className);
}

void JniHost::failGetMethodID(std::string_view methodName) {
    state_->failingMethods.emplace(methodName);
}

void JniHost::failNewByteArray() {
    state_->failNewByteArray = true;
}

void JniHost::failGetByteArrayElements() {
    state_->failGetByteArrayElements = true;
}

void JniHost::failNewStringUTF() {
    state_->failNewStringUtf = true;
}

void JniHost::failNewString() {
    state_->failNewString = true;
}

int JniHost::conversions() const {
    return state_->conversions;
}

int JniHost::stringReleases() const {
    return state_->stringReleases;
}

int JniHost::stringRegions() const {
    return state_->stringRegions;
}

int JniHost::arrayPins() const {
    return state_->arrayPinCount;
}

int JniHost::arrayReleases() const {
    return state_->arrayReleases;
}

long long JniHost::bytesCopied() const {
    return state_->bytesCopied;
}

int JniHost::heldPins() const {
    return static_cast<int>(state_->stringPins.size() + state_->arrayPins.size());
}

std::vector<std::string> JniHost::calls() const {
    return std::vector<std::string>(state_->callNames.begin(), state_->callNames.end());
}

void JniHost::checkReleased() {
    for (const StringPin& pin : state_->stringPins) {
        state_->violate("GetStringUTFChars of \"" + standardUtf8(pin.string->text) +
                        "\" was not released");
    }
    for (const ArrayPin& pin : state_->arrayPins) {
        state_->violate("GetByteArrayElements of a byte[" +
                        std::to_string(arrayLength(*pin.array)) + "] was not released");
    }
    // Back in Java, the exception is Java's to see.
    state_->uncheckedCall = nullptr;
}

const std::vector<std::string>& JniHost::violations() const {
    return state_->violations;
}

std::vector<std::string> JniHost::takeViolations() {
    return std::exchange(state_->violations, {});
}

}  // namespace jnitest

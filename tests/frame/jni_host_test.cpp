// The strict JNI host itself: its string encodings, the faults it catches and the failures it
// can be made to give.
#include "jni_host.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace {

using jnitest::JniHost;

struct Encoding {
    std::u16string text;
    std::string modified;  // the JNI's modified UTF-8
    std::string standard;  // standard UTF-8
};

const Encoding kEncodings[] = {
    {u"abc", "abc", "abc"},
    {u"", "", ""},
    {u"\u00E9", "\xC3\xA9", "\xC3\xA9"},
    {std::u16string(1, u'\0'), "\xC0\x80", std::string(1, '\0')},
    {u"\u20AC", "\xE2\x82\xAC", "\xE2\x82\xAC"},
    {u"\U0001F600", "\xED\xA0\xBD\xED\xB8\x80", "\xF0\x9F\x98\x80"},
    {std::u16string(1, u'\xDC00'), "\xED\xB0\x80", "\xED\xB0\x80"},
    {std::u16string(u"a\0\u00E9\U0001F600", 5),
     std::string("a\xC0\x80\xC3\xA9\xED\xA0\xBD\xED\xB8\x80"),
     std::string("a\0\xC3\xA9\xF0\x9F\x98\x80", 8)},
};

TEST(JniHostStrings, ConvertToModifiedUtf8AndBack) {
    for (const Encoding& e : kEncodings) {
        SCOPED_TRACE(e.modified);
        JniHost host;
        JNIEnv* env = host.env();
        jstring string = host.string(e.text);
        jboolean isCopy = JNI_FALSE;
        const char* bytes = env->GetStringUTFChars(string, &isCopy);
        ASSERT_NE(bytes, nullptr);
        EXPECT_EQ(std::string(bytes), e.modified);
        EXPECT_EQ(isCopy, JNI_TRUE);
        EXPECT_EQ(env->GetStringUTFLength(string), static_cast<jsize>(e.modified.size()));
        env->ReleaseStringUTFChars(string, bytes);

        jstring made = env->NewStringUTF(e.modified.c_str());
        EXPECT_EQ(host.utf16(made), e.text);
        EXPECT_EQ(host.newStringUtfBytes(made), e.modified);
        EXPECT_EQ(host.utf8(made), e.standard);
        EXPECT_EQ(host.utf16(host.string(std::string_view(e.standard))), e.text);
        EXPECT_EQ(host.conversions(), 1);
        EXPECT_EQ(host.stringReleases(), 1);
        EXPECT_EQ(host.heldPins(), 0);

        jsize length = env->GetStringLength(string);
        std::u16string units(static_cast<std::size_t>(length) + 1, u'x');
        env->GetStringRegion(string, 0, length, reinterpret_cast<jchar*>(units.data()));
        EXPECT_EQ(units, e.text + u'x');
        EXPECT_EQ(host.utf16(env->NewString(reinterpret_cast<const jchar*>(units.data()), length)),
                  e.text);
        EXPECT_EQ(host.stringRegions(), 1);
    }
}

struct Violation {
    const char* name;
    std::function<void(JniHost&, JNIEnv*)> action;
    const char* expected;  // part of the violation's text
};

const Violation kViolations[] = {
    {"disallowed operation", [](JniHost&, JNIEnv* env) { env->ExceptionOccurred(); },
     "ExceptionOccurred (table slot 15)"},
    {"reference management",
     [](JniHost& host, JNIEnv* env) { env->DeleteLocalRef(host.object("a/B")); }, "DeleteLocalRef"},
    {"reserved slot",
     [](JniHost&, JNIEnv* env) {
         reinterpret_cast<void* (*)(JNIEnv*)>(env->functions->reserved2)(env);
     },
     "reserved2 (table slot 2)"},
    {"call while an exception is pending",
     [](JniHost& host, JNIEnv* env) {
         env->ThrowNew(env->FindClass("a/Failure"), "first");
         env->NewStringUTF("x");
         host.clearException();
     },
     "JNI call NewStringUTF while an exception is pending (a/Failure)"},
    {"exception raised twice",
     [](JniHost& host, JNIEnv* env) {
         jclass failure = env->FindClass("a/Failure");
         env->ThrowNew(failure, "first");
         env->ThrowNew(failure, "second");
         host.clearException();
     },
     "raised twice"},
    {"ThrowNew without a class", [](JniHost&, JNIEnv* env) { env->ThrowNew(nullptr, "m"); },
     "ThrowNew with a null reference"},
    {"conversion of a null string",
     [](JniHost&, JNIEnv* env) { env->GetStringUTFChars(nullptr, nullptr); },
     "GetStringUTFChars with a null reference"},
    {"string released twice",
     [](JniHost& host, JNIEnv* env) {
         jstring string = host.string(u"s");
         const char* bytes = env->GetStringUTFChars(string, nullptr);
         env->ReleaseStringUTFChars(string, bytes);
         env->ReleaseStringUTFChars(string, bytes);
     },
     "not held"},
    {"string released with another reference",
     [](JniHost& host, JNIEnv* env) {
         jstring string = host.string(u"s");
         const char* bytes = env->GetStringUTFChars(string, nullptr);
         env->ReleaseStringUTFChars(host.string(u"s"), bytes);
         env->ReleaseStringUTFChars(string, bytes);
     },
     "another string reference"},
    {"string never released",
     [](JniHost& host, JNIEnv* env) {
         jstring string = host.string(u"kept");
         const char* bytes = env->GetStringUTFChars(string, nullptr);
         host.checkReleased();
         env->ReleaseStringUTFChars(string, bytes);
     },
     "\"kept\" was not released"},
    {"array elements never released",
     [](JniHost& host, JNIEnv* env) {
         jbyteArray array = host.byteArray({1, 2});
         jbyte* elements = env->GetByteArrayElements(array, nullptr);
         host.checkReleased();
         env->ReleaseByteArrayElements(array, elements, JNI_ABORT);
     },
     "byte[2] was not released"},
    {"array elements released with another reference",
     [](JniHost& host, JNIEnv* env) {
         jbyteArray array = host.byteArray({1});
         jbyte* elements = env->GetByteArrayElements(array, nullptr);
         env->ReleaseByteArrayElements(host.byteArray({1}), elements, 0);
         env->ReleaseByteArrayElements(array, elements, 0);
     },
     "another array reference"},
    {"write past the end of array elements",
     [](JniHost& host, JNIEnv* env) {
         jbyteArray array = host.byteArray({1, 2, 3});
         jbyte* elements = env->GetByteArrayElements(array, nullptr);
         elements[3] = 0;
         env->ReleaseByteArrayElements(array, elements, 0);
         EXPECT_FALSE(host.guardIntact(array));
     },
     "wrote past the end of array elements"},
    {"negative array length", [](JniHost&, JNIEnv* env) { env->NewByteArray(-1); },
     "negative length -1"},
    {"string region outside the string",
     [](JniHost& host, JNIEnv* env) {
         jchar units[3] = {};
         env->GetStringRegion(host.string(u"ab"), 1, 2, units);
         host.clearException();
     },
     "GetStringRegion of the units 1..3 outside a string of 2"},
    {"NewStringUTF of code-page bytes",
     [](JniHost&, JNIEnv* env) {
         env->NewStringUTF(
             "5\xB0"
             "C");
     },
     "NewStringUTF with bytes that are not modified UTF-8: 35 B0 43"},
    {"NewStringUTF of a four-byte sequence",
     [](JniHost&, JNIEnv* env) { env->NewStringUTF("\xF0\x9F\x98\x80"); }, "F0 9F 98 80"},
    {"NewStringUTF of an overlong sequence",
     [](JniHost&, JNIEnv* env) { env->NewStringUTF("\xC1\x81"); }, "not modified UTF-8: C1 81"},
    {"ThrowNew of code-page bytes",
     [](JniHost&, JNIEnv* env) { env->ThrowNew(env->FindClass("a/Failure"), "100 \x80"); },
     "ThrowNew with bytes that are not modified UTF-8: 31 30 30 20 80"},
    {"array region outside the array",
     [](JniHost& host, JNIEnv* env) {
         jbyte bytes[2] = {};
         env->GetByteArrayRegion(host.byteArray({1, 2}), 1, 2, bytes);
     },
     "GetByteArrayRegion of the region 1..3 outside a byte[2]"},
    {"Integer read with another method",
     [](JniHost& host, JNIEnv* env) {
         jmethodID init = env->GetMethodID(env->FindClass("java/lang/Integer"), "<init>", "(I)V");
         env->functions->CallIntMethod(env, host.integer(5), init);
     },
     "method id other than intValue"},
    {"a call after a Java method without an exception check",
     [](JniHost& host, JNIEnv* env) {
         jmethodID intValue =
             env->GetMethodID(env->FindClass("java/lang/Integer"), "intValue", "()I");
         env->functions->CallIntMethod(env, host.integer(5), intValue);
         env->FindClass("java/lang/String");
     },
     "FindClass without checking exceptions after CallIntMethod"},
    {"a call through JNIEnv's wrapper, which uses the va_list slot",
     [](JniHost& host, JNIEnv* env) {
         jmethodID intValue =
             env->GetMethodID(env->FindClass("java/lang/Integer"), "intValue", "()I");
         env->CallIntMethod(host.integer(5), intValue);
     },
     "CallIntMethodV (table slot 50) is not one the library may use"},
    {"class name with dots",
     [](JniHost& host, JNIEnv* env) {
         env->FindClass("java.lang.String");
         host.clearException();
     },
     "written with slashes"},
};

TEST(JniHostViolations, AreRecordedOnceEach) {
    for (const Violation& v : kViolations) {
        SCOPED_TRACE(v.name);
        JniHost host;
        v.action(host, host.env());
        std::vector<std::string> violations = host.takeViolations();
        ASSERT_EQ(violations.size(), 1u);
        EXPECT_NE(violations[0].find(v.expected), std::string::npos) << violations[0];
        EXPECT_EQ(host.heldPins(), 0);
    }
}

TEST(JniHostViolations, FailTheTestWhenTheHostEnds) {
    EXPECT_NONFATAL_FAILURE(
        {
            JniHost host;
            host.env()->ExceptionClear();
        },
        "ExceptionClear");
    EXPECT_NONFATAL_FAILURE(
        {
            JniHost host;
            host.env()->GetStringUTFChars(host.string(u"left"), nullptr);
        },
        "\"left\" still held");
}

const char* leakedBytes = nullptr;

jint convertWithoutRelease(JNIEnv* env, jclass, jstring string) {
    leakedBytes = env->GetStringUTFChars(string, nullptr);
    return 7;
}

TEST(JniHostViolations, CallChecksThePinsAfterTheExport) {
    JniHost host;
    jstring argument = host.string(u"arg");
    EXPECT_EQ(host.call(&convertWithoutRelease, argument), 7);
    std::vector<std::string> violations = host.takeViolations();
    ASSERT_EQ(violations.size(), 1u);
    EXPECT_NE(violations[0].find("\"arg\" was not released"), std::string::npos);
    EXPECT_EQ(host.heldPins(), 1);
    host.env()->ReleaseStringUTFChars(argument, leakedBytes);
}

struct Injection {
    const char* name;
    std::function<void(JniHost&)> inject;
    std::function<bool(JniHost&, JNIEnv*)> failsToNull;
    const char* exceptionClass;
};

const Injection kInjections[] = {
    {"second conversion", [](JniHost& host) { host.failConversion(2); },
     [](JniHost& host, JNIEnv* env) {
         jstring string = host.string(u"s");
         const char* first = env->GetStringUTFChars(string, nullptr);
         env->ReleaseStringUTFChars(string, first);
         return first != nullptr && env->GetStringUTFChars(string, nullptr) == nullptr;
     },
     "java/lang/OutOfMemoryError"},
    {"class", [](JniHost& host) { host.failFindClass("a/Gone"); },
     [](JniHost&, JNIEnv* env) {
         return env->FindClass("a/Here") != nullptr && env->FindClass("a/Gone") == nullptr;
     },
     "java/lang/NoClassDefFoundError"},
    {"method", [](JniHost& host) { host.failGetMethodID("intValue"); },
     [](JniHost&, JNIEnv* env) {
         return env->GetMethodID(env->FindClass("java/lang/Integer"), "intValue", "()I") == nullptr;
     },
     "java/lang/NoSuchMethodError"},
    {"unknown method", [](JniHost&) {},
     [](JniHost&, JNIEnv* env) {
         return env->GetMethodID(env->FindClass("java/lang/Integer"), "longValue", "()J") ==
                nullptr;
     },
     "java/lang/NoSuchMethodError"},
    {"new array", [](JniHost& host) { host.failNewByteArray(); },
     [](JniHost&, JNIEnv* env) { return env->NewByteArray(4) == nullptr; },
     "java/lang/OutOfMemoryError"},
    {"array elements", [](JniHost& host) { host.failGetByteArrayElements(); },
     [](JniHost& host, JNIEnv* env) {
         return env->GetByteArrayElements(host.byteArray({1}), nullptr) == nullptr;
     },
     "java/lang/OutOfMemoryError"},
    {"new string", [](JniHost& host) { host.failNewStringUTF(); },
     [](JniHost&, JNIEnv* env) { return env->NewStringUTF("s") == nullptr; },
     "java/lang/OutOfMemoryError"},
    {"new string of units", [](JniHost& host) { host.failNewString(); },
     [](JniHost&, JNIEnv* env) {
         const jchar unit = u's';
         return env->NewString(&unit, 1) == nullptr;
     },
     "java/lang/OutOfMemoryError"},
};

TEST(JniHostFailures, MakeTheVirtualMachinesExceptionPending) {
    for (const Injection& injection : kInjections) {
        SCOPED_TRACE(injection.name);
        JniHost host;
        injection.inject(host);
        EXPECT_TRUE(injection.failsToNull(host, host.env()));
        EXPECT_TRUE(host.exceptionPending());
        EXPECT_EQ(host.exceptionClass(), injection.exceptionClass);
        EXPECT_EQ(host.exceptionsRaised(), 1);
        EXPECT_TRUE(host.violations().empty());
        EXPECT_EQ(host.heldPins(), 0);
        host.clearException();
    }
}

TEST(JniHostArrays, ReleaseModesCopyBackAndUnpinAsTheVirtualMachineDoes) {
    const struct {
        jint mode;
        std::vector<std::uint8_t> after;
        int held;
        long long copied;  // the pin, the copy-back if any
    } cases[] = {{0, {9, 2}, 0, 4}, {JNI_COMMIT, {9, 2}, 1, 4}, {JNI_ABORT, {1, 2}, 0, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        JniHost host;
        JNIEnv* env = host.env();
        jbyteArray array = host.byteArray({1, 2});
        jbyte* elements = env->GetByteArrayElements(array, nullptr);
        elements[0] = 9;
        env->ReleaseByteArrayElements(array, elements, c.mode);
        EXPECT_EQ(host.bytes(array), c.after);
        EXPECT_EQ(host.heldPins(), c.held);
        EXPECT_TRUE(host.guardIntact(array));
        if (c.held != 0) {
            env->ReleaseByteArrayElements(array, elements, JNI_ABORT);
        }
        EXPECT_EQ(host.arrayPins(), 1);
        EXPECT_EQ(host.arrayReleases(), 1);
        EXPECT_EQ(host.bytesCopied(), c.copied);
    }
}

TEST(JniHostArrays, RegionsCopyOnlyTheirBytes) {
    JniHost host;
    JNIEnv* env = host.env();
    jbyteArray array = env->NewByteArray(4);
    const jbyte bytes[] = {5, 6};
    env->SetByteArrayRegion(array, 1, 2, bytes);
    jbyte back[3] = {9, 9, 9};
    env->GetByteArrayRegion(array, 2, 2, back);
    EXPECT_EQ(back[0], 6);
    EXPECT_EQ(back[1], 0);
    EXPECT_EQ(back[2], 9);
    EXPECT_EQ(host.bytesCopied(), 4);
    EXPECT_EQ(env->GetArrayLength(array), 4);
    EXPECT_EQ(host.bytes(array), (std::vector<std::uint8_t>{0, 5, 6, 0}));
    EXPECT_TRUE(host.guardIntact(array));
    EXPECT_EQ(host.className(array), "[B");
    EXPECT_FALSE(host.exceptionPending());
}

TEST(JniHostObjects, IntegersClassesAndCalls) {
    JniHost host;
    JNIEnv* env = host.env();
    jclass integerClass = env->FindClass("java/lang/Integer");
    EXPECT_EQ(env->FindClass("java/lang/Integer"), integerClass);
    jmethodID init = env->GetMethodID(integerClass, "<init>", "(I)V");
    jmethodID intValue = env->GetMethodID(integerClass, "intValue", "()I");
    jobject made = env->functions->NewObject(env, integerClass, init, 42);
    EXPECT_EQ(host.integerValue(made), 42);
    EXPECT_EQ(env->functions->CallIntMethod(env, host.integer(-3), intValue), -3);
    EXPECT_FALSE(env->ExceptionCheck());
    EXPECT_EQ(env->functions->CallIntMethod(env, made, intValue), 42);
    EXPECT_FALSE(env->ExceptionCheck());
    EXPECT_EQ(env->GetObjectClass(made), integerClass);
    EXPECT_EQ(host.className(host.object("a/B")), "a/B");
    jclass stringClass = env->GetObjectClass(host.string(u"s"));
    EXPECT_EQ(stringClass, env->FindClass("java/lang/String"));
    EXPECT_TRUE(env->IsAssignableFrom(integerClass, integerClass));
    EXPECT_TRUE(env->IsAssignableFrom(stringClass, env->FindClass("java/lang/Object")));
    EXPECT_FALSE(env->IsAssignableFrom(integerClass, stringClass));
    EXPECT_EQ(env->ThrowNew(env->FindClass("a/Failure"), "why"), 0);
    EXPECT_EQ(host.exceptionClass(), "a/Failure");
    EXPECT_EQ(host.exceptionMessage(), "why");
    host.clearException();
    EXPECT_EQ(host.calls().front(), "FindClass");
    EXPECT_EQ(host.calls().back(), "ThrowNew");
    EXPECT_TRUE(host.violations().empty());
}

}  // namespace

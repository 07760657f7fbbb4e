// A strict JNI environment for driving the library's exports outside a Java virtual machine.
//
// The host holds Java values (strings as UTF-16, byte arrays with guard bytes after their
// end, Integers, plain objects, classes) and hands the library a JNIEnv whose function table
// offers only the operations the library may use. It records as a violation, and so fails
// the test, what a careful virtual machine running with -Xcheck:jni would object to:
//  - a table slot outside the allowed operations;
//  - any call other than a release while an exception is pending;
//  - a string or array pin released twice, with another reference, or not at all by the time
//    the export returns (see call());
//  - bytes written past the end of pinned array elements;
//  - an array or string region that does not lie inside its array or string;
//  - bytes handed to NewStringUTF or ThrowNew that are not modified UTF-8.
// Each thread makes its own host, as each Java thread has its own JNIEnv.
#pragma once

#include <jni.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace jnitest {

class JniHost {
public:
    JniHost();
    // Fails the running test if any violation was recorded or any pin is still held.
    ~JniHost();
    JniHost(const JniHost&) = delete;
    JniHost& operator=(const JniHost&) = delete;

    JNIEnv* env();
    // The class reference the virtual machine passes as the second argument.
    jclass receiver();

    // Calls an export as the virtual machine does and then checks that every pin it took was
    // released. Returns what the export returned.
    template <typename R, typename... Params, typename... Args>
    R call(R (*exported)(JNIEnv*, jclass, Params...), Args... args) {
        struct AfterCall {
            JniHost* host;
            ~AfterCall() { host->checkReleased(); }
        } after{this};
        return exported(env(), receiver(), static_cast<Params>(args)...);
    }

    // Java values.
    jstring string(std::u16string_view utf16);
    jstring string(std::string_view utf8);  // standard UTF-8, read into UTF-16
    jbyteArray byteArray(const std::vector<std::uint8_t>& bytes);
    jobject integer(std::int32_t value);
    jobject object(std::string_view className);  // an instance of any named class

    std::u16string utf16(jstring string) const;
    std::string utf8(jstring string) const;  // standard UTF-8 of the string's characters
    // The exact bytes handed to NewStringUTF for a string the library made.
    std::string newStringUtfBytes(jstring string) const;
    std::vector<std::uint8_t> bytes(jbyteArray array) const;
    // Stores into an array as Java code does, outside any JNI call.
    void store(jbyteArray array, std::size_t offset, const std::vector<std::uint8_t>& bytes);
    bool guardIntact(jbyteArray array) const;     // the guard bytes after the end are unchanged
    std::string className(jobject object) const;  // "java/lang/String", "[B", ...
    std::int32_t integerValue(jobject integer) const;

    // The pending exception, if any.
    bool exceptionPending() const;
    std::string exceptionClass() const;  // e.g. "java/lang/OutOfMemoryError"
    std::string exceptionMessage() const;
    // Exceptions made pending since construction: ThrowNew calls, injected failures and the
    // errors a virtual machine raises itself (a missing method).
    int exceptionsRaised() const;
    void clearException();

    // Fault injection. Counts start from the moment of the call.
    void failConversion(int nth);  // the nth GetStringUTFChars gives null, OutOfMemoryError
    void failFindClass(std::string_view className);     // null, NoClassDefFoundError
    void failGetMethodID(std::string_view methodName);  // null, NoSuchMethodError
    void failNewByteArray();          // every NewByteArray gives null, OutOfMemoryError
    void failGetByteArrayElements();  // every GetByteArrayElements gives null, OutOfMemoryError
    void failNewStringUTF();          // every NewStringUTF gives null, OutOfMemoryError
    void failNewString();             // every NewString gives null, OutOfMemoryError

    // Observation.
    int conversions() const;  // GetStringUTFChars calls that gave bytes
    int stringReleases() const;
    int stringRegions() const;  // GetStringRegion calls that copied units
    int arrayPins() const;      // GetByteArrayElements calls that gave elements
    int arrayReleases() const;
    // Bytes copied between arrays and the library: by region operations, pins and copy-backs.
    long long bytesCopied() const;
    int heldPins() const;  // string and array pins not yet released
    // Operations called so far, by JNI name, in order.
    std::vector<std::string> calls() const;

    // Records a violation for every pin still held.
    void checkReleased();
    const std::vector<std::string>& violations() const;
    // Returns the violations recorded so far and forgets them, for tests of the host itself.
    std::vector<std::string> takeViolations();

    struct State;

private:
    std::unique_ptr<State> state_;
};

}  // namespace jnitest

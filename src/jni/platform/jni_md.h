/* Windows x64 platform part of the JNI headers, for building on a machine whose JDK is not a
   Windows one. Matches the types and linkage of a Windows JDK's own jni_md.h. */
#ifndef ULVEX_JNI_MD_H
#define ULVEX_JNI_MD_H

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef __int64 jlong;
typedef signed char jbyte;

#endif

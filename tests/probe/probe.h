// The probe: loads the fresh DLL through the JNI host and prints a few live answers, one line
// per family.
#pragma once

#include "jni_host.h"
#include "library.h"

void probeExports(const jnitest::Library& library);
void probeEnvironment(jnitest::JniHost& host, const jnitest::Library& library);
void probeRegistry(jnitest::JniHost& host, const jnitest::Library& library);
void probePipe(jnitest::JniHost& host, const jnitest::Library& library);
void probeSession(jnitest::JniHost& host, const jnitest::Library& library);
void probeDesktop(jnitest::JniHost& host, const jnitest::Library& library);

#include "jni_host.h"
#include <gtest/gtest.h>
TEST(JniHost, Builds) { jnitest::JniHost host; EXPECT_NE(host.env(), nullptr); }

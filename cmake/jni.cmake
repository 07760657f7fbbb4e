# JNI headers. A Windows JDK brings its own jni_md.h; elsewhere the build machine's jni.h is
# combined with the library's Windows x64 platform part.
add_library(ulvex_jni INTERFACE)
if(CMAKE_HOST_WIN32)
    find_package(JNI REQUIRED)
    target_include_directories(ulvex_jni INTERFACE ${JNI_INCLUDE_DIRS})
else()
    find_path(ULVEX_JNI_INCLUDE jni.h
        PATHS /usr/lib/jvm/java-17-openjdk-amd64/include /usr/lib/jvm/default-java/include
        NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
    target_include_directories(ulvex_jni INTERFACE
        ${ULVEX_JNI_INCLUDE} ${CMAKE_SOURCE_DIR}/src/jni/platform)
endif()

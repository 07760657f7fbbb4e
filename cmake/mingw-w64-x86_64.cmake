# Cross-compiles Windows x64 binaries with Clang 19 and LLD 19 for the x86_64-w64-mingw32 target,
# against Debian's mingw-w64 headers and C runtime (and the libraries of its posix GCC).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ULVEX_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER clang-19)
set(CMAKE_CXX_COMPILER clang++-19)
set(CMAKE_C_COMPILER_TARGET ${ULVEX_MINGW_PREFIX})
set(CMAKE_CXX_COMPILER_TARGET ${ULVEX_MINGW_PREFIX})
set(CMAKE_RC_COMPILER ${ULVEX_MINGW_PREFIX}-windres)
foreach(kind IN ITEMS EXE SHARED MODULE)
    set(CMAKE_${kind}_LINKER_FLAGS_INIT -fuse-ld=lld-19)
endforeach()

set(CMAKE_FIND_ROOT_PATH /usr/${ULVEX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

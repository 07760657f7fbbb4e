# The DLL as it ships: hardened, the same bytes from the same sources, its symbols in
# ulvexwin64.pdb beside it, and packed with the jar, the headers and the README.
set(ULVEX_DLL_PDB ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/ulvexwin64.pdb)
set(ULVEX_DLL_MAP ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/ulvexwin64.map)

# Debug information as CodeView with SHA-256 source checksums, and no build machine's directory
# in it: sources under /ulvexwin64, objects named relative to the build tree (which the linker
# places at /ulvexwin64/build), no command lines.
target_compile_options(ulvexwin64 PRIVATE -g -gcodeview -gno-codeview-command-line
    "SHELL:-Xclang -gsrc-hash=sha256"
    -ffile-prefix-map=${CMAKE_SOURCE_DIR}=/ulvexwin64 -fdebug-compilation-dir=.)
# Control Flow Guard on every indirect call, the stack protector (failure routines in
# src/jni/runtime.cpp) and checked memory functions; shared with the test DLL built on the
# library's start-up.
add_library(ulvex_hardening INTERFACE)
target_compile_options(ulvex_hardening INTERFACE -mguard=cf -fstack-protector-strong)
target_compile_definitions(ulvex_hardening INTERFACE $<$<COMPILE_LANGUAGE:CXX>:_FORTIFY_SOURCE=2>)
# Linked with the guard tables, without long-jump targets: nothing here calls setjmp.
target_link_options(ulvex_hardening INTERFACE LINKER:--guard-cf,--no-guard-longjmp)

# The guard check and dispatch pointers, the load configuration, the stack canary and the checked
# memory functions come from the C runtime where it has them (mingw-w64 11 and later; its canary
# is set at random by a static initialiser, which the entry point runs), else from
# src/jni/guard_support.cpp and GCC's libssp, linked statically. Without the C runtime's start-up
# objects, nothing else asks for the runtime's load configuration: the link does.
include(CheckCXXSourceCompiles)
set(CMAKE_REQUIRED_QUIET ON)
check_cxx_source_compiles([[
extern "C" char _load_config_used[], __guard_dispatch_icall_fptr[];
char* guardSupport[] = {_load_config_used, __guard_dispatch_icall_fptr};
int main() { return guardSupport[0] == guardSupport[1]; }
]] ULVEX_CRT_GUARD_SUPPORT)
if(ULVEX_CRT_GUARD_SUPPORT)
    target_link_options(ulvex_hardening INTERFACE LINKER:--undefined=_load_config_used)
else()
    target_sources(ulvex_hardening INTERFACE ${CMAKE_SOURCE_DIR}/src/jni/guard_support.cpp)
    target_link_libraries(ulvex_hardening INTERFACE ssp)
endif()
target_link_libraries(ulvexwin64 PRIVATE ulvex_hardening)

# Marked shadow-stack compatible, with DependentLoadFlags (imports from system32 only) written into
# whichever load configuration is linked, ASLR with high-entropy addresses and DEP. No symbol
# table and no DWARF in the DLL; its CodeView record names the PDB without a directory. No time
# stamp: the PDB's signature and the image's are hashes of the output. The PDB, the map and the
# linker's recorded command line hold paths relative to the build tree.
# The exports come from the module-definition file, copied into the build tree for that reason.
configure_file(src/ulvexwin64.def ${CMAKE_BINARY_DIR}/ulvexwin64.def COPYONLY)
set_property(TARGET ulvexwin64 APPEND PROPERTY LINK_DEPENDS ${CMAKE_BINARY_DIR}/ulvexwin64.def)
target_link_options(ulvexwin64 PRIVATE ulvexwin64.def)
file(RELATIVE_PATH ULVEX_PDB_ARGUMENT ${CMAKE_BINARY_DIR} ${ULVEX_DLL_PDB})
file(RELATIVE_PATH ULVEX_MAP_ARGUMENT ${CMAKE_BINARY_DIR} ${ULVEX_DLL_MAP})
target_link_options(ulvexwin64 PRIVATE
    LINKER:--gc-sections LINKER:--Xlink=-cetcompat LINKER:--Xlink=-dependentloadflag:0x800
    LINKER:--dynamicbase,--high-entropy-va,--nxcompat
    LINKER:--strip-all LINKER:--pdb=${ULVEX_PDB_ARGUMENT}
    LINKER:--Xlink=-pdbaltpath:ulvexwin64.pdb LINKER:--Xlink=-pdbsourcepath:/ulvexwin64/build
    LINKER:--no-insert-timestamp LINKER:--Xlink=-Brepro
    LINKER:-Map=${ULVEX_MAP_ARGUMENT})
set_property(TARGET ulvexwin64 APPEND PROPERTY ADDITIONAL_CLEAN_FILES ${ULVEX_DLL_PDB}
    ${ULVEX_DLL_MAP})

# Signing: a code-signing certificate and its private key, either as PEM files or as one
# PKCS#12 file whose password is read from a file; optionally an RFC 3161 time-stamp server.
# Given as cache variables or environment variables of the same names; without a certificate
# the package holds the DLL unsigned.
set(ULVEX_SIGN_CERT "" CACHE FILEPATH "Code-signing certificate (PEM) for the packaged DLL")
set(ULVEX_SIGN_KEY "" CACHE FILEPATH "Private key (PEM) of ULVEX_SIGN_CERT")
set(ULVEX_SIGN_PKCS12 "" CACHE FILEPATH "Code-signing certificate and key (PKCS#12 .pfx)")
set(ULVEX_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File holding the password of ULVEX_SIGN_PKCS12")
set(ULVEX_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamp server for the signature")
set(ULVEX_SIGN_VARIABLES ULVEX_SIGN_CERT ULVEX_SIGN_KEY ULVEX_SIGN_PKCS12
    ULVEX_SIGN_PASSWORD_FILE ULVEX_TIMESTAMP_URL)
set(ULVEX_SIGN_ARGUMENTS "")
foreach(variable IN LISTS ULVEX_SIGN_VARIABLES)
    if(NOT ${variable})
        set(${variable} "$ENV{${variable}}")
    endif()
    list(APPEND ULVEX_SIGN_ARGUMENTS -D${variable}=${${variable}})
endforeach()

# The package, ulvexwin64-<version>-win64.zip in the build tree.
set(ULVEX_PACKAGE ${CMAKE_BINARY_DIR}/${PROJECT_NAME}-${PROJECT_VERSION}-win64.zip)
file(GLOB ULVEX_HEADERS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/include/*.h)
add_custom_command(
    OUTPUT ${ULVEX_PACKAGE}
    COMMAND ${CMAKE_COMMAND} -DBIN_DIR=${CMAKE_RUNTIME_OUTPUT_DIRECTORY}
            -DEPOCH=${ULVEX_SOURCE_DATE_EPOCH} -DOUTPUT=${ULVEX_PACKAGE} ${ULVEX_SIGN_ARGUMENTS}
            -P ${CMAKE_SOURCE_DIR}/cmake/package.cmake
    DEPENDS ulvexwin64 ${ULVEX_JAR_FILE} ${ULVEX_HEADERS} ${CMAKE_SOURCE_DIR}/README.md
            ${CMAKE_SOURCE_DIR}/cmake/package.cmake ${ULVEX_SIGN_CERT} ${ULVEX_SIGN_KEY}
            ${ULVEX_SIGN_PKCS12} ${ULVEX_SIGN_PASSWORD_FILE}
    COMMENT "Packing ${PROJECT_NAME}-${PROJECT_VERSION}-win64.zip"
    VERBATIM)
add_custom_target(ulvexwin64_package ALL DEPENDS ${ULVEX_PACKAGE})
# The jar is made by its own target alone: two targets running its rule at once would race.
add_dependencies(ulvexwin64_package ulvexwin64_jar)

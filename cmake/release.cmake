# The DLL as it ships: hardened, the same bytes from the same sources, stripped with its symbols
# kept in ulvexwin64.dll.debug beside it, and packed with the jar, the headers and the README.
set(ULVEX_DLL_DEBUG ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/ulvexwin64.dll.debug)
set(ULVEX_DLL_MAP ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/ulvexwin64.map)

# Stack protection links mingw-w64's libssp statically; _FORTIFY_SOURCE needs the optimiser.
# ASLR with high-entropy addresses and DEP (the linker's defaults, stated here). No link time in
# the image and no build machine's directories in the debug information.
target_compile_options(ulvexwin64 PRIVATE -g -fstack-protector-strong
    -ffile-prefix-map=${CMAKE_SOURCE_DIR}=/ulvexwin64
    -ffile-prefix-map=${CMAKE_BINARY_DIR}=/ulvexwin64/build)
target_compile_definitions(ulvexwin64 PRIVATE $<$<COMPILE_LANGUAGE:CXX>:_FORTIFY_SOURCE=2>)
target_link_options(ulvexwin64 PRIVATE -fstack-protector-strong
    LINKER:--dynamicbase,--high-entropy-va,--nxcompat,--no-insert-timestamp
    LINKER:-Map=${ULVEX_DLL_MAP})

# The shipped DLL is stripped; a GNU debug link names the debug file and holds its checksum.
# objcopy stamps the PE header with the time unless SOURCE_DATE_EPOCH says otherwise. The map
# names the module-definition file as the debug information names sources.
set(ULVEX_OBJCOPY ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0 ${CMAKE_OBJCOPY})
add_custom_command(TARGET ulvexwin64 POST_BUILD
    COMMAND ${ULVEX_OBJCOPY} --only-keep-debug $<TARGET_FILE:ulvexwin64> ${ULVEX_DLL_DEBUG}
    COMMAND ${ULVEX_OBJCOPY} --strip-all --add-gnu-debuglink=${ULVEX_DLL_DEBUG}
            $<TARGET_FILE:ulvexwin64>
    COMMAND sed -i "s|^LOAD ${CMAKE_SOURCE_DIR}/|LOAD /ulvexwin64/|" ${ULVEX_DLL_MAP}
    BYPRODUCTS ${ULVEX_DLL_DEBUG} ${ULVEX_DLL_MAP}
    VERBATIM)

# Signing: a code-signing certificate and its private key (PEM files), given as cache variables
# or environment variables of the same names; without them the package holds the DLL unsigned.
set(ULVEX_SIGN_CERT "" CACHE FILEPATH "Code-signing certificate (PEM) for the packaged DLL")
set(ULVEX_SIGN_KEY "" CACHE FILEPATH "Private key (PEM) of ULVEX_SIGN_CERT")
foreach(variable IN ITEMS ULVEX_SIGN_CERT ULVEX_SIGN_KEY)
    if(NOT ${variable})
        set(${variable} "$ENV{${variable}}")
    endif()
endforeach()

# The package, ulvexwin64-<version>-win64.zip in the build tree.
set(ULVEX_PACKAGE ${CMAKE_BINARY_DIR}/${PROJECT_NAME}-${PROJECT_VERSION}-win64.zip)
file(GLOB ULVEX_HEADERS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/include/*.h)
add_custom_command(
    OUTPUT ${ULVEX_PACKAGE}
    COMMAND ${CMAKE_COMMAND} -DBIN_DIR=${CMAKE_RUNTIME_OUTPUT_DIRECTORY}
            -DEPOCH=${ULVEX_SOURCE_DATE_EPOCH} -DOUTPUT=${ULVEX_PACKAGE}
            -DSIGN_CERT=${ULVEX_SIGN_CERT} -DSIGN_KEY=${ULVEX_SIGN_KEY}
            -P ${CMAKE_SOURCE_DIR}/cmake/package.cmake
    DEPENDS ulvexwin64 ${ULVEX_JAR_FILE} ${ULVEX_HEADERS} ${CMAKE_SOURCE_DIR}/README.md
            ${CMAKE_SOURCE_DIR}/cmake/package.cmake ${ULVEX_SIGN_CERT} ${ULVEX_SIGN_KEY}
    COMMENT "Packing ${PROJECT_NAME}-${PROJECT_VERSION}-win64.zip"
    VERBATIM)
add_custom_target(ulvexwin64_package ALL DEPENDS ${ULVEX_PACKAGE})

# Makes the release package: the stripped DLL (Authenticode-signed when a certificate and key
# are given), its debug file and linker map, the jar, the JNI headers, the README and a
# SHA256SUMS over all of them, under one directory named after the zip. Entries are in name
# order and dated EPOCH, so the same inputs give the same zip.
#   cmake -DBIN_DIR=<dir> -DEPOCH=<seconds> -DOUTPUT=<dir/name.zip>
#         [-DSIGN_CERT=<certificate.pem> -DSIGN_KEY=<key.pem>] -P package.cmake
get_filename_component(source_dir ${CMAKE_CURRENT_LIST_DIR} DIRECTORY)
get_filename_component(name ${OUTPUT} NAME_WLE)
set(stage ${OUTPUT}.stage)
set(root ${stage}/${name})
file(REMOVE_RECURSE ${stage})
file(COPY ${BIN_DIR}/ulvexwin64.dll.debug ${BIN_DIR}/ulvexwin64.map ${BIN_DIR}/ulvexwin64.jar
    ${source_dir}/README.md DESTINATION ${root})
file(COPY ${source_dir}/include DESTINATION ${root} FILES_MATCHING PATTERN "*.h")
if(SIGN_CERT OR SIGN_KEY)
    # No time stamp: a time-stamp server is not reachable from the build.
    find_program(osslsigncode osslsigncode REQUIRED)
    execute_process(COMMAND ${osslsigncode} sign -certs ${SIGN_CERT} -key ${SIGN_KEY} -h sha256
                            -n ulvexwin64 -in ${BIN_DIR}/ulvexwin64.dll -out ${root}/ulvexwin64.dll
        COMMAND_ERROR_IS_FATAL ANY)
else()
    file(COPY ${BIN_DIR}/ulvexwin64.dll DESTINATION ${root})
endif()

file(GLOB_RECURSE files RELATIVE ${root} ${root}/*)
list(SORT files)
set(sums "")
foreach(file IN LISTS files)
    file(SHA256 ${root}/${file} hash)
    string(APPEND sums "${hash}  ${file}\n")
endforeach()
file(WRITE ${root}/SHA256SUMS "${sums}")
list(APPEND files SHA256SUMS)
list(SORT files)

list(TRANSFORM files PREPEND ${name}/)
file(CHMOD_RECURSE ${root} FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
    DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                          WORLD_READ WORLD_EXECUTE)
find_program(zip zip REQUIRED)
set(ENV{TZ} UTC)
execute_process(COMMAND touch -d @${EPOCH} ${files} WORKING_DIRECTORY ${stage}
    COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE ${OUTPUT})
execute_process(COMMAND ${zip} -q -X -D ${OUTPUT} ${files} WORKING_DIRECTORY ${stage}
    COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE_RECURSE ${stage})

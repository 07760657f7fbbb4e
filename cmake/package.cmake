# Makes the release package: the DLL (Authenticode-signed when a certificate is given), its PDB
# and linker map, the jar, the JNI headers, the README and a SHA256SUMS over all of them, under
# one directory named after the zip. Entries are in name order and dated EPOCH, so the same
# inputs give the same zip.
#   cmake -DBIN_DIR=<dir> -DEPOCH=<seconds> -DOUTPUT=<dir/name.zip>
#         [-DULVEX_SIGN_CERT=<certificate.pem> -DULVEX_SIGN_KEY=<key.pem>]
#         [-DULVEX_SIGN_PKCS12=<file.pfx> -DULVEX_SIGN_PASSWORD_FILE=<file>]
#         [-DULVEX_TIMESTAMP_URL=<RFC 3161 server>] -P package.cmake
# A time stamp that cannot be had fails the packing: nothing ships unstamped that was to be.
get_filename_component(source_dir ${CMAKE_CURRENT_LIST_DIR} DIRECTORY)
get_filename_component(name ${OUTPUT} NAME_WLE)
set(stage ${OUTPUT}.stage)
set(root ${stage}/${name})
file(REMOVE_RECURSE ${stage})
file(COPY ${BIN_DIR}/ulvexwin64.pdb ${BIN_DIR}/ulvexwin64.map ${BIN_DIR}/ulvexwin64.jar
    ${source_dir}/README.md DESTINATION ${root})
file(COPY ${source_dir}/include DESTINATION ${root} FILES_MATCHING PATTERN "*.h")
if(ULVEX_SIGN_PKCS12)
    set(signer -pkcs12 ${ULVEX_SIGN_PKCS12} -readpass ${ULVEX_SIGN_PASSWORD_FILE})
elseif(ULVEX_SIGN_CERT OR ULVEX_SIGN_KEY)
    set(signer -certs ${ULVEX_SIGN_CERT} -key ${ULVEX_SIGN_KEY})
endif()
if(signer)
    if(ULVEX_TIMESTAMP_URL)
        list(APPEND signer -ts ${ULVEX_TIMESTAMP_URL})
    endif()
    find_program(osslsigncode osslsigncode REQUIRED)
    execute_process(COMMAND ${osslsigncode} sign ${signer} -h sha256 -n ulvexwin64
                            -in ${BIN_DIR}/ulvexwin64.dll -out ${root}/ulvexwin64.dll
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

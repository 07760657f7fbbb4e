# Packs as a release team signs: a PKCS#12 file made here, its password read from a file, and a
# time stamp from a time-stamp authority of the test's own on the loopback address. Verifies the
# packaged DLL's signature and time stamp and loads that DLL under Wine; then packs again with
# the authority stopped, which must fail.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/package)
function(run)
    execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${WORK} OUTPUT_QUIET ERROR_QUIET
        COMMAND_ERROR_IS_FATAL ANY)
endfunction()
run(${OPENSSL} req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=ulvexwin64-test
    -addext extendedKeyUsage=codeSigning -keyout key.pem -out certificate.pem)
file(WRITE ${WORK}/password.txt "test password\n")
run(${OPENSSL} pkcs12 -export -inkey key.pem -in certificate.pem -out signer.pfx
    -passout file:password.txt)
run(${OPENSSL} req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=ulvexwin64-test-tsa
    -addext "extendedKeyUsage=critical,timeStamping" -keyout tsa-key.pem -out tsa.pem)
file(WRITE ${WORK}/tsa.cnf "[tsa]\ndefault_tsa = test_tsa\n[test_tsa]\nserial = ${WORK}/serial\n"
    "signer_cert = ${WORK}/tsa.pem\nsigner_key = ${WORK}/tsa-key.pem\nsigner_digest = sha256\n"
    "default_policy = 1.3.6.1.4.1.4146.2.3\ndigests = sha256\ness_cert_id_alg = sha256\n")
file(WRITE ${WORK}/serial "01\n")

# The authority, in the background for at most two minutes.
execute_process(COMMAND sh -c "${PYTHON} '${TSA_SERVER}' '${OPENSSL}' '${WORK}/tsa.cnf' \
'${WORK}/port' 120 </dev/null >'${WORK}/tsa.log' 2>&1 & echo $!"
    OUTPUT_VARIABLE server OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
foreach(attempt RANGE 50)
    if(EXISTS ${WORK}/port)
        file(READ ${WORK}/port port)
    endif()
    if(port)
        break()
    endif()
    execute_process(COMMAND sleep 0.1)
endforeach()
set(sign -DULVEX_SIGN_PKCS12=${WORK}/signer.pfx -DULVEX_SIGN_PASSWORD_FILE=${WORK}/password.txt
    -DULVEX_TIMESTAMP_URL=http://127.0.0.1:${port}/)
execute_process(
    COMMAND ${CMAKE_COMMAND} -DBIN_DIR=${BIN_DIR} -DEPOCH=315619200 -DOUTPUT=${WORK}/signed.zip
            ${sign} -P ${PACKAGE_SCRIPT}
    RESULT_VARIABLE packed)
execute_process(COMMAND kill ${server})
if(NOT port OR NOT packed EQUAL 0)
    file(READ ${WORK}/tsa.log log)
    message(FATAL_ERROR "signing with a time stamp failed (${packed}); authority:\n${log}")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${WORK}/signed.zip
    WORKING_DIRECTORY ${WORK}/package COMMAND_ERROR_IS_FATAL ANY)
set(signed ${WORK}/package/signed)
find_program(osslsigncode osslsigncode REQUIRED)
execute_process(
    COMMAND ${osslsigncode} verify -CAfile ${WORK}/certificate.pem -TSA-CAfile ${WORK}/tsa.pem
            -in ${signed}/ulvexwin64.dll
    OUTPUT_VARIABLE verified COMMAND_ERROR_IS_FATAL ANY)
message(STATUS "${verified}")
if(NOT verified MATCHES "Timestamp Server Signature verification: ok")
    message(FATAL_ERROR "the signature carries no verified time stamp")
endif()

# A test program copied next to the signed DLL loads that one.
file(COPY ${LOADER} DESTINATION ${signed})
get_filename_component(loader ${LOADER} NAME)
execute_process(
    COMMAND ${WINE_RUN} ${signed}/${loader}
            --gtest_filter=ModuleTest.ExportsExactlyTheNamesOfTheDefinitionFile
    WORKING_DIRECTORY ${signed} COMMAND_ERROR_IS_FATAL ANY)

# The authority is gone: no package, rather than one signed without a time stamp.
execute_process(
    COMMAND ${CMAKE_COMMAND} -DBIN_DIR=${BIN_DIR} -DEPOCH=315619200 -DOUTPUT=${WORK}/stale.zip
            ${sign} -P ${PACKAGE_SCRIPT}
    RESULT_VARIABLE packed OUTPUT_QUIET ERROR_QUIET)
if(packed EQUAL 0 OR EXISTS ${WORK}/stale.zip)
    message(FATAL_ERROR "packing succeeded without the time-stamp authority")
endif()

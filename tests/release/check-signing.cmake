# Packs with a throwaway self-signed code-signing certificate, verifies the Authenticode
# signature of the packaged DLL and loads that DLL under Wine.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/package)
execute_process(
    COMMAND ${OPENSSL} req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=ulvexwin64-test
            -addext extendedKeyUsage=codeSigning -keyout key.pem -out certificate.pem
    WORKING_DIRECTORY ${WORK} OUTPUT_QUIET ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
execute_process(
    COMMAND ${CMAKE_COMMAND} -DBIN_DIR=${BIN_DIR} -DEPOCH=315619200 -DOUTPUT=${WORK}/signed.zip
            -DSIGN_CERT=${WORK}/certificate.pem -DSIGN_KEY=${WORK}/key.pem -P ${PACKAGE_SCRIPT}
    COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${WORK}/signed.zip
    WORKING_DIRECTORY ${WORK}/package COMMAND_ERROR_IS_FATAL ANY)
set(signed ${WORK}/package/signed)

find_program(osslsigncode osslsigncode REQUIRED)
execute_process(
    COMMAND ${osslsigncode} verify -CAfile ${WORK}/certificate.pem -in ${signed}/ulvexwin64.dll
    COMMAND_ERROR_IS_FATAL ANY)

# A test program copied next to the signed DLL loads that one.
file(COPY ${LOADER} DESTINATION ${signed})
get_filename_component(loader ${LOADER} NAME)
execute_process(
    COMMAND ${WINE_RUN} ${signed}/${loader}
            --gtest_filter=ModuleTest.ExportsExactlyTheNamesOfTheDefinitionFile
    WORKING_DIRECTORY ${signed} COMMAND_ERROR_IS_FATAL ANY)

# The project version names the package and stands in the jar's manifest (the version resource
# is checked where the DLL is loaded).
if(NOT EXISTS ${BUILD_DIR}/ulvexwin64-${VERSION}-win64.zip)
    message(FATAL_ERROR "no package ulvexwin64-${VERSION}-win64.zip in ${BUILD_DIR}")
endif()
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${JAR} META-INF/MANIFEST.MF
    WORKING_DIRECTORY ${WORK} COMMAND_ERROR_IS_FATAL ANY)
file(READ ${WORK}/META-INF/MANIFEST.MF manifest)
foreach(line IN ITEMS "Implementation-Title: ulvexwin64" "Implementation-Version: ${VERSION}"
                      "Automatic-Module-Name: com.ulvex.kesp.tavik.common.win32")
    if(NOT manifest MATCHES "\n${line}\r?\n")
        message(FATAL_ERROR "the jar's manifest lacks \"${line}\":\n${manifest}")
    endif()
endforeach()

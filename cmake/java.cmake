# The Java declarations: compiled for Java 8 into ulvexwin64.jar next to the DLL.
find_program(ULVEX_JAVAC javac
    HINTS /usr/lib/jvm/java-17-openjdk-amd64/bin NO_CMAKE_FIND_ROOT_PATH REQUIRED)
find_program(ULVEX_JAR jar
    HINTS /usr/lib/jvm/java-17-openjdk-amd64/bin NO_CMAKE_FIND_ROOT_PATH REQUIRED)

file(GLOB_RECURSE ULVEX_JAVA_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/java/*.java)
set(ULVEX_JAVA_CLASSES ${CMAKE_BINARY_DIR}/java-classes)
set(ULVEX_JAR_FILE ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/ulvexwin64.jar)

# The time recorded in the jar and the package: SOURCE_DATE_EPOCH, else the last commit's time,
# else 1980-01-02, which a zip entry can hold in every time zone.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(ULVEX_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
    execute_process(COMMAND git log -1 --format=%ct WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
        OUTPUT_VARIABLE ULVEX_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(NOT ULVEX_SOURCE_DATE_EPOCH)
    set(ULVEX_SOURCE_DATE_EPOCH 315619200)
endif()

set(ULVEX_JAR_MANIFEST ${CMAKE_BINARY_DIR}/jar-manifest.txt)
file(CONFIGURE OUTPUT ${ULVEX_JAR_MANIFEST} CONTENT [[
Implementation-Title: ${PROJECT_NAME}
Implementation-Version: ${PROJECT_VERSION}
Automatic-Module-Name: com.ulvex.kesp.tavik.common.win32
]])

add_custom_command(
    OUTPUT ${ULVEX_JAR_FILE}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${ULVEX_JAVA_CLASSES}
    COMMAND ${ULVEX_JAVAC} --release 8 -nowarn -d ${ULVEX_JAVA_CLASSES} ${ULVEX_JAVA_SOURCES}
    COMMAND ${CMAKE_COMMAND} -DJAR=${ULVEX_JAR} -DCLASSES=${ULVEX_JAVA_CLASSES}
            -DMANIFEST=${ULVEX_JAR_MANIFEST} -DEPOCH=${ULVEX_SOURCE_DATE_EPOCH}
            -DOUTPUT=${ULVEX_JAR_FILE} -P ${CMAKE_SOURCE_DIR}/cmake/jar.cmake
    DEPENDS ${ULVEX_JAVA_SOURCES} ${ULVEX_JAR_MANIFEST} ${CMAKE_SOURCE_DIR}/cmake/jar.cmake
    COMMENT "Compiling the Java declarations into ulvexwin64.jar"
    VERBATIM)
add_custom_target(ulvexwin64_jar ALL DEPENDS ${ULVEX_JAR_FILE})

# The Java declarations: compiled for Java 8 into ulvexwin64.jar next to the DLL.
find_program(ULVEX_JAVAC javac
    HINTS /usr/lib/jvm/java-17-openjdk-amd64/bin NO_CMAKE_FIND_ROOT_PATH REQUIRED)
find_program(ULVEX_JAR jar
    HINTS /usr/lib/jvm/java-17-openjdk-amd64/bin NO_CMAKE_FIND_ROOT_PATH REQUIRED)

file(GLOB_RECURSE ULVEX_JAVA_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/java/*.java)
set(ULVEX_JAVA_CLASSES ${CMAKE_BINARY_DIR}/java-classes)
set(ULVEX_JAR_FILE ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/ulvexwin64.jar)

add_custom_command(
    OUTPUT ${ULVEX_JAR_FILE}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${ULVEX_JAVA_CLASSES}
    COMMAND ${ULVEX_JAVAC} --release 8 -nowarn -d ${ULVEX_JAVA_CLASSES} ${ULVEX_JAVA_SOURCES}
    COMMAND ${ULVEX_JAR} cf ${ULVEX_JAR_FILE} -C ${ULVEX_JAVA_CLASSES} .
    DEPENDS ${ULVEX_JAVA_SOURCES}
    COMMENT "Compiling the Java declarations into ulvexwin64.jar"
    VERBATIM)
add_custom_target(ulvexwin64_jar ALL DEPENDS ${ULVEX_JAR_FILE})

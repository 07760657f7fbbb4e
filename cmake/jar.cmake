# Packs compiled classes into a jar whose bytes depend on the classes and the manifest only:
# entries in name order, all dated EPOCH (seconds since 1970, UTC).
#   cmake -DJAR=<jar tool> -DCLASSES=<dir> -DMANIFEST=<file> -DEPOCH=<seconds> -DOUTPUT=<jar>
#         -P jar.cmake
file(GLOB_RECURSE entries RELATIVE ${CLASSES} ${CLASSES}/*)
list(SORT entries)
set(ENV{SOURCE_DATE_EPOCH} ${EPOCH})
string(TIMESTAMP date "%Y-%m-%dT%H:%M:%SZ" UTC)
file(REMOVE ${OUTPUT})
execute_process(
    COMMAND ${JAR} --create --file ${OUTPUT} --manifest ${MANIFEST} --date ${date} ${entries}
    WORKING_DIRECTORY ${CLASSES} COMMAND_ERROR_IS_FATAL ANY)

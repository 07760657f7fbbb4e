# What the DLL's headers and its PDB say of its hardening and symbols: ASLR with high-entropy
# addresses, DEP and Control Flow Guard; shadow-stack compatible; no symbol table and no DWARF
# in the DLL, whose CodeView record names ulvexwin64.pdb alone (not marked debug-stripped, which
# would make dbghelp ignore the PDB); and a SHA-256 checksum for every source in the PDB.
execute_process(COMMAND ${READOBJ} --file-headers --sections --coff-debug-directory ${DLL}
    OUTPUT_VARIABLE headers COMMAND_ERROR_IS_FATAL ANY)
set(expected "IMAGE_DLL_CHARACTERISTICS_DYNAMIC_BASE" "IMAGE_DLL_CHARACTERISTICS_GUARD_CF"
    "IMAGE_DLL_CHARACTERISTICS_HIGH_ENTROPY_VA" "IMAGE_DLL_CHARACTERISTICS_NX_COMPAT"
    "IMAGE_DLL_CHARACTERISTICS_EX_CET_COMPAT" "PointerToSymbolTable: 0x0\n"
    "SymbolCount: 0\n" "PDBFileName: ulvexwin64.pdb\n")
foreach(text IN LISTS expected)
    string(FIND "${headers}" "${text}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "${DLL}: no ${text} in\n${headers}")
    endif()
endforeach()
if(headers MATCHES "IMAGE_FILE_DEBUG_STRIPPED|Name: \\.debug_")
    message(FATAL_ERROR "${DLL} is marked debug-stripped or holds DWARF:\n${headers}")
endif()

execute_process(COMMAND ${PDBUTIL} dump --il ${PDB} OUTPUT_VARIABLE lines
    COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL "/ulvexwin64/src/[^\n]* \\([^)]*\\)" sources "${lines}")
list(LENGTH sources count)
list(FILTER sources EXCLUDE REGEX "\\(SHA-256: [0-9A-F]+\\)$")
if(count EQUAL 0 OR sources)
    message(FATAL_ERROR "${PDB}: sources without a SHA-256 checksum (of ${count}):\n${sources}")
endif()
message(STATUS "${count} source checksums, all SHA-256")

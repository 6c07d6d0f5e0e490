# Makes a delay-load import library for DLL from mingw-w64's import library:
# a module definition listing every symbol that IMPORT_LIBRARY imports, handed
# to dlltool. Run with cmake -P; NM, DLLTOOL, DLL, IMPORT_LIBRARY and OUTPUT set.
execute_process(COMMAND ${NM} ${IMPORT_LIBRARY} OUTPUT_VARIABLE symbols ERROR_QUIET RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cannot read ${IMPORT_LIBRARY}")
endif()
string(REGEX MATCHALL " I __imp_[A-Za-z0-9_@]+" imports "${symbols}")
list(TRANSFORM imports REPLACE " I __imp_" "")
list(REMOVE_DUPLICATES imports)
list(SORT imports)
string(JOIN "\n" exports ${imports})
get_filename_component(folder ${OUTPUT} DIRECTORY)
file(MAKE_DIRECTORY ${folder})
file(WRITE ${folder}/${DLL}.def "LIBRARY ${DLL}.dll\nEXPORTS\n${exports}\n")
execute_process(COMMAND ${DLLTOOL} --input-def ${folder}/${DLL}.def --dllname ${DLL}.dll --output-delaylib ${OUTPUT}
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "dlltool could not make ${OUTPUT}")
endif()

# Makes a delay-load import library for DLL from mingw-w64's import library:
# a module definition listing every symbol that IMPORT_LIBRARY imports, handed
# to dlltool. Run with cmake -P; NM, DLLTOOL, MACHINE (dlltool's -m: i386 or
# i386:x86-64), DLL, IMPORT_LIBRARY and OUTPUT set.
#
# On i386 the import library's symbols carry the C prefix "_" and, for stdcall
# functions, the size of the arguments: __imp__FindWindowW@8. The module
# definition keeps the "@8", since the program's object files call
# _FindWindowW@8, and --kill-at drops it from the name looked up in the DLL,
# which exports plain FindWindowW. x64 has neither decoration.
foreach(variable NM DLLTOOL MACHINE DLL IMPORT_LIBRARY OUTPUT)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "delay_import_library: ${variable} is not set")
  endif()
endforeach()
if(MACHINE STREQUAL "i386")
  set(prefix " I __imp__")
  set(kill_at --kill-at)
else()
  set(prefix " I __imp_")
  set(kill_at)
endif()

execute_process(COMMAND ${NM} ${IMPORT_LIBRARY} OUTPUT_VARIABLE symbols ERROR_QUIET RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cannot read ${IMPORT_LIBRARY}")
endif()
string(REGEX MATCHALL "${prefix}[A-Za-z0-9_@]+" imports "${symbols}")
list(TRANSFORM imports REPLACE "^${prefix}" "")
list(REMOVE_DUPLICATES imports)
list(SORT imports)
if(NOT imports)
  message(FATAL_ERROR "no imports found in ${IMPORT_LIBRARY}")
endif()
string(JOIN "\n" exports ${imports})
get_filename_component(folder ${OUTPUT} DIRECTORY)
file(MAKE_DIRECTORY ${folder})
file(WRITE ${folder}/${DLL}.def "LIBRARY ${DLL}.dll\nEXPORTS\n${exports}\n")
execute_process(COMMAND ${DLLTOOL} -m ${MACHINE} ${kill_at} --input-def ${folder}/${DLL}.def --dllname ${DLL}.dll
                        --output-delaylib ${OUTPUT}
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "dlltool could not make ${OUTPUT}")
endif()

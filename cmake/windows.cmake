# halvane.exe, the stand-in browser, the Windows-side tests and the benchmarks.
enable_language(RC)

# Every Windows-side file calls the wide API.
add_compile_definitions(UNICODE _UNICODE)

# Lean and self-contained: no exceptions or RTTI in the product, one static exe.
set(HALVANE_PRODUCT_FLAGS -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
    -ffunction-sections -fdata-sections -DWIN32_LEAN_AND_MEAN -D_WIN32_WINNT=0x0601)
target_compile_options(halvane_logic PRIVATE ${HALVANE_PRODUCT_FLAGS})

add_library(halvane_win32 STATIC
  src/app/globals.cpp
  src/app/language.cpp
  src/decisions/registry_store.cpp
  src/keeper/keeper.cpp
  src/ui/dialog_common.cpp
  src/ui/prompt.cpp
  src/ui/preferences.cpp
  src/ui/decision_editor.cpp
)
target_compile_options(halvane_win32 PRIVATE ${HALVANE_PRODUCT_FLAGS} -Wall -Wextra)
target_link_libraries(halvane_win32 PUBLIC halvane_logic advapi32 user32 gdi32 kernel32)

# The icon is generated from its editable pixel sources.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(HALVANE_ICON ${CMAKE_BINARY_DIR}/res/halvane.ico)
add_custom_command(
  OUTPUT ${HALVANE_ICON}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/res
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/res/icon/make_icon.py ${HALVANE_ICON}
          ${CMAKE_SOURCE_DIR}/res/icon/halvane-16.txt ${CMAKE_SOURCE_DIR}/res/icon/halvane-20.txt
  DEPENDS ${CMAKE_SOURCE_DIR}/res/icon/make_icon.py ${CMAKE_SOURCE_DIR}/res/icon/halvane-16.txt
          ${CMAKE_SOURCE_DIR}/res/icon/halvane-20.txt
  COMMENT "Drawing the icon")
add_custom_target(halvane_icon DEPENDS ${HALVANE_ICON})

file(GLOB HALVANE_STRING_TABLES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/res/strings/*.rc)
set_source_files_properties(res/halvane.rc PROPERTIES OBJECT_DEPENDS
  "${HALVANE_ICON};${HALVANE_STRING_TABLES};${CMAKE_SOURCE_DIR}/res/halvane.manifest;${CMAKE_SOURCE_DIR}/src/ui/resource_ids.h")

# USER32 and GDI32 are delay-loaded: a remembered Deny needs neither, and under
# Wine loading them costs more than the rest of such a run. The import
# libraries come from mingw-w64's own, every export of the DLL listed.
set(HALVANE_DELAY_DIR ${CMAKE_BINARY_DIR}/delay)
set(HALVANE_DELAY_LIBS)
foreach(dll user32 gdi32)
  set(delaylib ${HALVANE_DELAY_DIR}/lib${dll}_delay.a)
  add_custom_command(
    OUTPUT ${delaylib}
    COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DDLLTOOL=${CMAKE_DLLTOOL} -DDLL=${dll}
            -DIMPORT_LIBRARY=${CMAKE_FIND_ROOT_PATH}/lib/lib${dll}.a -DOUTPUT=${delaylib}
            -P ${CMAKE_SOURCE_DIR}/cmake/delay_import_library.cmake
    DEPENDS ${CMAKE_SOURCE_DIR}/cmake/delay_import_library.cmake
    COMMENT "Making the delay-load import library of ${dll}.dll")
  list(APPEND HALVANE_DELAY_LIBS ${delaylib})
endforeach()
add_custom_target(halvane_delay_libs DEPENDS ${HALVANE_DELAY_LIBS})

add_executable(halvane WIN32 src/app/main.cpp res/halvane.rc)
add_dependencies(halvane halvane_icon halvane_delay_libs)
target_compile_options(halvane PRIVATE ${HALVANE_PRODUCT_FLAGS} -Wall -Wextra)
# The resource script finds the drawn icon, the string tables and the ids.
target_include_directories(halvane PRIVATE
  $<$<COMPILE_LANGUAGE:RC>:${CMAKE_BINARY_DIR}/res;${CMAKE_SOURCE_DIR}/res;${CMAKE_SOURCE_DIR}/src/ui>)
# The delay libraries stand before the ordinary ones, so every USER32 and GDI32
# call of the program binds to them.
target_link_libraries(halvane PRIVATE halvane_win32 ${HALVANE_DELAY_LIBS})
target_link_options(halvane PRIVATE -municode -static -s -Wl,--gc-sections)

add_subdirectory(tools)
add_subdirectory(tests/wine)
add_subdirectory(bench)

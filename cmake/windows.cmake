# halvane.exe, the stand-in browser, the Windows-side tests and the benchmarks,
# for 64-bit (preset windows) or 32-bit Windows (preset windows-x86): the
# toolchain file decides.
enable_language(RC)

# Every Windows-side file calls the wide API.
add_compile_definitions(UNICODE _UNICODE)

# The tests bundle is released too (scripts/release), so every program built
# here, not only the product, is the same file wherever and whenever one commit
# is built: no folder of the build machine and no link time in it.
add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.>
                    $<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}=build>)
add_link_options(-Wl,--no-insert-timestamp)

# The oldest Windows each architecture runs on: XP (5.1) for x86 and XP x64
# Edition (5.2) for x64. The PE header states it as the OS and subsystem
# version (a loader refuses an exe that asks for a newer system than itself,
# and mingw-w64's defaults are not these), and _WIN32_WINNT
# makes the headers declare nothing that system lacks. What the exe imports
# is held to that system by the import check (tests/imports).
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(HALVANE_ARCH x64)
  set(HALVANE_DLLTOOL_MACHINE i386:x86-64)
  set(HALVANE_WINDOWS_MINOR 2)
else()
  set(HALVANE_ARCH x86)
  set(HALVANE_DLLTOOL_MACHINE i386)
  set(HALVANE_WINDOWS_MINOR 1)
endif()
set(HALVANE_PE_VERSION_FLAGS
    -Wl,--major-subsystem-version,5,--minor-subsystem-version,${HALVANE_WINDOWS_MINOR}
    -Wl,--major-os-version,5,--minor-os-version,${HALVANE_WINDOWS_MINOR})

# Lean and self-contained: no exceptions or RTTI in the product, one static exe.
# _USER32_ and _GDI32_ declare those DLLs' functions without dllimport, so the
# program calls each through its delay-load thunk rather than straight through
# its address slot. The thunk's code then counts as used: the i386 linker
# drops the code of an import stub whose function is never called by name,
# and with it the place where a delay-loaded slot starts out pointing, which
# leaves the slot 0 (the import check fails on such a slot).
# No folder of the build machine reaches the exe: the same commit gives the same
# file wherever it is built (the build folder's map comes last, so it wins when
# the build folder is inside the sources).
set(HALVANE_PRODUCT_FLAGS -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
    -ffunction-sections -fdata-sections -DWIN32_LEAN_AND_MEAN -D_WIN32_WINNT=0x050${HALVANE_WINDOWS_MINOR}
    -D_USER32_ -D_GDI32_ -ffile-prefix-map=${CMAKE_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=build)
target_compile_options(halvane_logic PRIVATE ${HALVANE_PRODUCT_FLAGS})

add_library(halvane_win32 STATIC
  src/app/globals.cpp
  src/app/language.cpp
  src/app/system_libraries.cpp
  src/decisions/registry_store.cpp
  src/guard/input_guard.cpp
  src/keeper/keeper.cpp
  src/policy/policy_registry.cpp
  src/text/system_case.cpp
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
set(HALVANE_RC_DEPENDS ${HALVANE_ICON} ${HALVANE_STRING_TABLES} ${CMAKE_SOURCE_DIR}/res/halvane.manifest
    ${CMAKE_SOURCE_DIR}/src/ui/resource_ids.h)

# USER32 and GDI32 are delay-loaded: a remembered Deny needs neither, and under
# Wine loading them costs more than the rest of such a run. The import
# libraries come from mingw-w64's own, every export of the DLL listed.
set(HALVANE_DELAY_DIR ${CMAKE_BINARY_DIR}/delay)
set(HALVANE_DELAY_LIBS)
foreach(dll user32 gdi32)
  set(delaylib ${HALVANE_DELAY_DIR}/lib${dll}_delay.a)
  add_custom_command(
    OUTPUT ${delaylib}
    COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DDLLTOOL=${CMAKE_DLLTOOL} -DMACHINE=${HALVANE_DLLTOOL_MACHINE} -DDLL=${dll}
            -DIMPORT_LIBRARY=${CMAKE_FIND_ROOT_PATH}/lib/lib${dll}.a -DOUTPUT=${delaylib}
            -P ${CMAKE_SOURCE_DIR}/cmake/delay_import_library.cmake
    DEPENDS ${CMAKE_SOURCE_DIR}/cmake/delay_import_library.cmake ${CMAKE_FIND_ROOT_PATH}/lib/lib${dll}.a
    COMMENT "Making the delay-load import library of ${dll}.dll")
  list(APPEND HALVANE_DELAY_LIBS ${delaylib})
endforeach()
add_custom_target(halvane_delay_libs DEPENDS ${HALVANE_DELAY_LIBS})

# halvane_version_header(DIR VERSION): DIR/halvane_version.h for the version
# record of a program numbered VERSION (major.minor.patch).
function(halvane_version_header dir version)
  string(REPLACE "." ";" parts ${version})
  list(GET parts 0 HALVANE_VERSION_MAJOR)
  list(GET parts 1 HALVANE_VERSION_MINOR)
  list(GET parts 2 HALVANE_VERSION_PATCH)
  set(HALVANE_VERSION ${version})
  configure_file(${PROJECT_SOURCE_DIR}/res/halvane_version.h.in ${dir}/halvane_version.h @ONLY)
endfunction()

# halvane_program(TARGET VERSION [SOURCE...]): halvane.exe numbered VERSION,
# with the extra sources if any. The product is TARGET halvane; the installer
# test also builds a later-numbered copy, and the planted-DLL test builds
# copies with one defence taken away.
function(halvane_program target version)
  set(version_dir ${CMAKE_CURRENT_BINARY_DIR}/${target}_version)
  halvane_version_header(${version_dir} ${version})
  add_executable(${target} WIN32 ${PROJECT_SOURCE_DIR}/src/app/main.cpp ${PROJECT_SOURCE_DIR}/res/halvane.rc ${ARGN})
  set_target_properties(${target} PROPERTIES OUTPUT_NAME halvane)
  set_source_files_properties(${PROJECT_SOURCE_DIR}/res/halvane.rc PROPERTIES OBJECT_DEPENDS
    "${HALVANE_RC_DEPENDS};${version_dir}/halvane_version.h")
  add_dependencies(${target} halvane_icon halvane_delay_libs)
  target_compile_options(${target} PRIVATE ${HALVANE_PRODUCT_FLAGS} -Wall -Wextra)
  # The resource script finds the drawn icon, the string tables, the ids and the version.
  target_include_directories(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:RC>:${CMAKE_BINARY_DIR}/res;${CMAKE_SOURCE_DIR}/res;${CMAKE_SOURCE_DIR}/src/ui;${version_dir}>)
  # Delay-loading rests on link order: the linker takes each function from the
  # first library after the object that calls it. The delay libraries follow
  # halvane_win32 and main.cpp directly, before user32 and gdi32 (which
  # halvane_win32 names, and gcc adds again after everything), so every USER32
  # and GDI32 call of the program binds to them. A call from a library linked
  # after them (halvane_logic, the C runtime) would import the DLL at start-up
  # again: the import check (tests/imports) fails then.
  target_link_libraries(${target} PRIVATE halvane_win32 ${HALVANE_DELAY_LIBS})
  # No link time in the header: a release is the same file whenever it is built.
  # The linker's map (beside, not in, the exe) shows what the link took in;
  # the third-party notices are checked against it (tests/imports).
  target_link_options(${target} PRIVATE -municode -static -s -Wl,--gc-sections -Wl,--no-insert-timestamp
                      -Wl,-Map=${CMAKE_CURRENT_BINARY_DIR}/${target}.map ${HALVANE_PE_VERSION_FLAGS})
endfunction()

halvane_program(halvane ${PROJECT_VERSION})

# halvane-host.exe, Firefox's native-messaging host, beside halvane.exe. A
# console program: Firefox starts it with CREATE_NO_WINDOW, so nothing shows,
# and its --register can be run by hand. Its imports are checked as halvane.exe's are.
# Nothing of the compiled libstdc++ may reach the host: its string code brings
# the exception runtime, which brings winpthreads, which imports from Vista's
# kernel32. _GLIBCXX_ASSERTIONS makes std::string's code compile into the host
# itself (bounds-checked; a failed check aborts), and no_exceptions.cpp takes
# the place of the library's allocation and throw functions.
target_compile_options(halvane_host_logic PRIVATE ${HALVANE_PRODUCT_FLAGS})
target_compile_definitions(halvane_host_logic PUBLIC _GLIBCXX_ASSERTIONS)
halvane_version_header(${CMAKE_BINARY_DIR}/halvane_host_version ${PROJECT_VERSION})
add_executable(halvane_host src/host/host_main.cpp src/host/host_registration.cpp src/host/host_win32.cpp src/host/no_exceptions.cpp
               src/policy/policy_registry.cpp res/host.rc)
set_target_properties(halvane_host PROPERTIES OUTPUT_NAME halvane-host)
set_source_files_properties(res/host.rc PROPERTIES OBJECT_DEPENDS
  "${CMAKE_SOURCE_DIR}/res/halvane.manifest;${CMAKE_BINARY_DIR}/halvane_host_version/halvane_version.h")
target_include_directories(halvane_host PRIVATE
  $<$<COMPILE_LANGUAGE:RC>:${CMAKE_SOURCE_DIR}/res;${CMAKE_BINARY_DIR}/halvane_host_version>)
target_compile_options(halvane_host PRIVATE ${HALVANE_PRODUCT_FLAGS} -Wall -Wextra)
# From Halvane's own logic it takes the browser's window classes, which it looks for as the keeper does,
# and the administrators' policy, which it reads as halvane.exe does.
target_link_libraries(halvane_host PRIVATE halvane_host_logic halvane_logic advapi32 user32 kernel32)
target_link_options(halvane_host PRIVATE -municode -static -s -Wl,--gc-sections -Wl,--no-insert-timestamp
                    -Wl,-Map=${CMAKE_BINARY_DIR}/halvane_host.map ${HALVANE_PE_VERSION_FLAGS})

if(HALVANE_TESTS)
  add_subdirectory(tools)
  add_subdirectory(tests/wine)
  add_subdirectory(tests/imports)
  add_subdirectory(tests/package)
  add_subdirectory(tests/browser)
  add_subdirectory(tests/bundle)
  add_subdirectory(bench)
endif()

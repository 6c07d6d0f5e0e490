# Native build of the platform-free logic: unit tests under ASan/UBSan, and fuzzers.
option(HALVANE_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" ON)
if(HALVANE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all
                      -fsanitize-ignorelist=${CMAKE_SOURCE_DIR}/cmake/rapidjson.ignorelist)
  add_link_options(-fsanitize=address,undefined)
endif()

add_subdirectory(tests/native)
add_subdirectory(tests/fuzz)
add_subdirectory(tests/browser)
add_subdirectory(tests/launch)
add_subdirectory(tests/docs)
add_subdirectory(tests/policy_templates)

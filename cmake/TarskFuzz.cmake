# Fuzzing build (TARSK_BUILD_FUZZ=ON): libFuzzer needs clang, and coverage instrumentation must
# reach every library a target links, so this is the one more place where global flags are right.
# Combine with TARSK_SANITIZE=address; scripts/fuzz configures such a build.
option(TARSK_BUILD_FUZZ "Build the libFuzzer targets in fuzz/ (clang only)" OFF)
if(TARSK_BUILD_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(WARNING "TARSK_BUILD_FUZZ needs clang (e.g. CXX=clang++-14); fuzz targets are not built")
    set(TARSK_BUILD_FUZZ OFF CACHE BOOL "" FORCE)
  else()
    add_compile_options(-fsanitize=fuzzer-no-link)
  endif()
endif()
if(TARSK_BUILD_FUZZ)
  # The fuzz build looks for crashes; clang's own extra warnings on code that the GCC builds keep
  # warning-free must not stop it. Appended once the whole tree is configured, after -Werror.
  cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL
    set_property TARGET tarsk_warnings APPEND PROPERTY INTERFACE_COMPILE_OPTIONS -Wno-error)
endif()

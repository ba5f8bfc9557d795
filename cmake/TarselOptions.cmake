# Build options shared by every target of the project.
option(TARSEL_WERROR "Treat compiler warnings as errors" OFF)
option(TARSEL_BUILD_TESTS "Build the test suite" ON)
set(TARSEL_SANITIZE "" CACHE STRING "Sanitizers to build with, e.g. address,undefined")
set(TARSEL_FUZZ_ENGINE "standalone" CACHE STRING "Engine of the fuzz targets: standalone or libfuzzer")

set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_CXX_VISIBILITY_PRESET hidden)
set(CMAKE_VISIBILITY_INLINES_HIDDEN ON)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)
if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
  set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "Build type" FORCE)
endif()

add_compile_options(-Wall -Wextra -Wpedantic)
if(TARSEL_WERROR)
  add_compile_options(-Werror)
endif()
if(TARSEL_SANITIZE)
  add_compile_options(-fsanitize=${TARSEL_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${TARSEL_SANITIZE})
  # GCC's flow analysis sees the sanitizers' instrumentation as reads of
  # unset values (inside <regex>, among others); the plain build keeps the
  # warning, where it means something.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-maybe-uninitialized)
  endif()
endif()
if(TARSEL_FUZZ_ENGINE STREQUAL "libfuzzer")
  # Coverage for libFuzzer in everything a fuzz target runs (the libraries,
  # the simulator, the tool's code), not only in the harness; the targets
  # link libFuzzer itself (fuzz/CMakeLists.txt).
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# Link settings of the two shipped libraries: calls inside a library bind to
# its own definitions, and no symbol is left unresolved.
function(tarsel_library_options target)
  target_link_options(${target} PRIVATE -Wl,-Bsymbolic-functions)
  # Sanitizer and coverage hooks are resolved in the program at load time.
  if(NOT TARSEL_SANITIZE AND NOT TARSEL_FUZZ_ENGINE STREQUAL "libfuzzer")
    target_link_options(${target} PRIVATE -Wl,--no-undefined)
  endif()
endfunction()

# Environment for every test program. The preload of the virtual USB device
# and the sanitizer runtime both want to come first; the link library and the
# API library both export a one-byte flag of the same name, which the strict
# ODR check would report although neither library reads the other's copy.
set(TARSEL_TEST_ENV
  "ASAN_OPTIONS=verify_asan_link_order=0:detect_odr_violation=1:detect_leaks=1"
  "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1"
  # A tarsel-sim the developer has running stays out of the tests: empty,
  # the simulator's arms are in each test's own process.
  "TARSEL_SIM_SOCKET=")

# VANTIRO_FUZZ (the "asan" preset, clang only): every target of the AddressSanitizer
# build is also instrumented for libFuzzer's coverage, without libFuzzer's main, so
# that one build serves both the test suite and the fuzz targets, and the libraries
# the fuzz targets link are seen and checked as well. The fuzz targets themselves add
# libFuzzer's main (fuzz/CMakeLists.txt); the test programs run as they always do.
option(VANTIRO_FUZZ "Instrument every target for the libFuzzer targets (clang only)" OFF)

if(VANTIRO_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "VANTIRO_FUZZ needs clang (the asan preset sets it)")
  endif()
  if(NOT VANTIRO_SANITIZER STREQUAL "address")
    message(FATAL_ERROR "VANTIRO_FUZZ goes with VANTIRO_SANITIZER=address")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

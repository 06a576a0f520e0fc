# VANTIRO_FUZZ (the "fuzz" preset, clang only): every target of the build is
# instrumented for libFuzzer's coverage and built with AddressSanitizer and
# UndefinedBehaviorSanitizer, so the libraries the fuzz targets link are seen and
# checked as well. The fuzz targets themselves add libFuzzer's main (fuzz/CMakeLists.txt).
option(VANTIRO_FUZZ "Instrument every target for the libFuzzer targets (clang only)" OFF)

if(VANTIRO_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "VANTIRO_FUZZ needs clang (the fuzz preset sets it)")
  endif()
  if(NOT VANTIRO_SANITIZER STREQUAL "")
    message(FATAL_ERROR "VANTIRO_FUZZ brings its own sanitizers: leave VANTIRO_SANITIZER empty")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

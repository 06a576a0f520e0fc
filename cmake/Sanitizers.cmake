# VANTIRO_SANITIZER: empty, "address" (AddressSanitizer with UndefinedBehaviorSanitizer)
# or "thread" (ThreadSanitizer). Applied to every target, executables and modules alike.
set(VANTIRO_SANITIZER "" CACHE STRING "address, thread or empty")

if(VANTIRO_SANITIZER STREQUAL "address")
  set(_san_flags -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
elseif(VANTIRO_SANITIZER STREQUAL "thread")
  set(_san_flags -fsanitize=thread -fno-omit-frame-pointer)
elseif(NOT VANTIRO_SANITIZER STREQUAL "")
  message(FATAL_ERROR "VANTIRO_SANITIZER must be address, thread or empty")
endif()

if(_san_flags)
  add_compile_options(${_san_flags})
  add_link_options(${_san_flags})
  # A sanitizer build is there to run the tests: -O1 with line tables only keeps
  # every report's file and line and compiles in half the time of -O2 with full
  # debug information (the sanitizers' runtime checks cost more than -O2 gains).
  foreach(lang C CXX)
    set(CMAKE_${lang}_FLAGS_RELWITHDEBINFO "-O1 ${VANTIRO_LINE_TABLES} -DNDEBUG")
  endforeach()
endif()

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
endif()

# Warnings for every target of the project; VANTIRO_WERROR (on in CI) makes them errors.
option(VANTIRO_WERROR "Treat compiler warnings as errors" OFF)

add_compile_options(-Wall -Wextra -Wpedantic -Wformat=2 -Wcast-qual -Wundef)
if(VANTIRO_WERROR)
  add_compile_options(-Werror)
endif()

# GCC marks some inline statics as "unique" symbols, and a module holding one can
# never be unloaded; modules here must unload when they say they can.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  add_compile_options(-fno-gnu-unique)
endif()

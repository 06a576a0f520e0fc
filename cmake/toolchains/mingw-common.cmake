# What both mingw-w64 toolchains share; VANTIRO_MINGW_TRIPLE names the target.
set(CMAKE_C_COMPILER ${VANTIRO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VANTIRO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VANTIRO_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${VANTIRO_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${VANTIRO_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")
set(VANTIRO_WIDL ${VANTIRO_MINGW_TRIPLE}-widl CACHE FILEPATH "The IDL compiler for the type library")

set(CMAKE_FIND_ROOT_PATH /usr/${VANTIRO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

if(VANTIRO_MINGW_SHARED_RUNTIME)
  # The run-time DLLs (cmake/WindowsTarget.cmake copies them into bin/).
  set(CMAKE_EXE_LINKER_FLAGS_INIT "-shared-libgcc")
  set(CMAKE_SHARED_LINKER_FLAGS_INIT "-shared-libgcc")
  set(CMAKE_MODULE_LINKER_FLAGS_INIT "-shared-libgcc")
else()
  # The C and C++ run-times are linked in statically, so that the programs and the
  # DLLs need no DLL of the compiler's beside them. A DLL exports its own code only
  # (a DLL without export marks exports every symbol; the run-times' must stay
  # inside, or a program linking the DLL would find them twice).
  set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
  set(VANTIRO_MINGW_DLL_FLAGS "-static -static-libgcc -static-libstdc++ -Wl,--exclude-libs,ALL")
  set(CMAKE_SHARED_LINKER_FLAGS_INIT "${VANTIRO_MINGW_DLL_FLAGS}")
  set(CMAKE_MODULE_LINKER_FLAGS_INIT "${VANTIRO_MINGW_DLL_FLAGS}")
endif()

find_program(VANTIRO_WINE wine REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${VANTIRO_WINE})

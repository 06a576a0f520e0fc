# A compiler cache when one is installed: ccache through CMake's compiler launcher,
# so that a build folder made anew, or another preset of the same code, reuses what
# was compiled before. VANTIRO_CCACHE=OFF, or a launcher given on the command line,
# turns it off.
option(VANTIRO_CCACHE "Compile through ccache when it is installed" ON)
if(VANTIRO_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  find_program(VANTIRO_CCACHE_PROGRAM ccache)
  if(VANTIRO_CCACHE_PROGRAM)
    set(CMAKE_C_COMPILER_LAUNCHER ${VANTIRO_CCACHE_PROGRAM})
    set(CMAKE_CXX_COMPILER_LAUNCHER ${VANTIRO_CCACHE_PROGRAM})
  endif()
endif()

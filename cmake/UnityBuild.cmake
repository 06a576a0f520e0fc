# Unity builds (VANTIRO_UNITY, on by default): each target compiles its sources in
# batches of up to eight per translation unit, so the heavy headers they share
# (GoogleTest, nlohmann-json, CLI11, OpenSSL) are read and their templates
# instantiated once per batch instead of once per file. The sources of a target must
# therefore not define the same internal name twice. -DVANTIRO_UNITY=OFF compiles
# file by file, which is quicker when one file changes often.
option(VANTIRO_UNITY "Compile each target's sources in batches (unity build)" ON)

if(VANTIRO_UNITY)
  set(CMAKE_UNITY_BUILD ON)
  set(CMAKE_UNITY_BUILD_BATCH_SIZE 8)
  # GCC warns when a class in an unnamed namespace is used by one in a file it takes
  # for a header; in a batch every source but the first looks like one.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-subobject-linkage)
  endif()
endif()

# vantiro_backend_sources_apart(source...): the win32 backend files among the given
# ones are compiled on their own, never in a unity batch: they include <windows.h>,
# whose macros (MessageBox, MB_OK, ...) would rename what the shared files of the
# batch declare.
function(vantiro_backend_sources_apart)
  foreach(source IN LISTS ARGN)
    if(source MATCHES "(^|/)win32/")
      set_source_files_properties(${source} PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
    endif()
  endforeach()
endfunction()

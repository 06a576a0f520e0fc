# vantiro_embed_type_library(TARGET IDL)
# Compiles IDL (and the .idl files beside it that it imports) into a type library
# with widl and embeds it in TARGET as its first type-library resource. The library
# imports the system's standard library, stdole2.tlb, which Wine ships per
# architecture; widl reads it from there.
find_path(VANTIRO_STDOLE2_DIR stdole2.tlb
  PATHS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/i386-linux-gnu/wine/i386-windows
        /usr/lib/wine
  NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT VANTIRO_STDOLE2_DIR)
  message(FATAL_ERROR "stdole2.tlb (Wine's) was not found: scripts/deps.sh windows installs Wine")
endif()

function(vantiro_embed_type_library target idl)
  get_filename_component(name ${idl} NAME_WE)
  get_filename_component(idl_dir ${idl} DIRECTORY)
  file(GLOB idl_files CONFIGURE_DEPENDS ${idl_dir}/*.idl)
  set(tlb ${CMAKE_CURRENT_BINARY_DIR}/${name}.tlb)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(arch --win64)
  else()
    set(arch --win32)
  endif()
  add_custom_command(OUTPUT ${tlb}
    COMMAND ${VANTIRO_WIDL} -t ${arch} -I ${idl_dir} -L ${VANTIRO_STDOLE2_DIR} -o ${tlb} ${idl}
    DEPENDS ${idl_files}
    COMMENT "Type library ${name}.tlb"
    VERBATIM)
  set(VANTIRO_TYPE_LIBRARY ${tlb})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${name}_tlb.rc)
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/VantiroPlugin_tlb.rc.in ${rc} @ONLY)
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${tlb})
  target_sources(${target} PRIVATE ${rc})
endfunction()

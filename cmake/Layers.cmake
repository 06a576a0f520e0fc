# The product's code is built as layers, bottom up (docs/layers.md draws them):
#   1 the platform (libqmos)
#   2 the closed-library stand-ins, diagnostics, TLS, the host contract
#   3 the process-wide state
#   4 the dialogs
#   5 the connection
#   6 the password's expiry check and change
#   7 the plug-in object and the module
# Each layer's libraries link only libraries of their own layer or below, and a
# library's headers are reachable only through a link to it (its include/ folder is
# its one public include root). So an include that runs up a layer fails to compile,
# a link that runs up fails the configuration (vantiro_check_layers), and an include
# written as a relative or absolute path, which would reach past the include roots,
# fails the build (the include check every layer library runs).

set(VANTIRO_LAYER_NAMES "" "platform" "stand-ins, diagnostics, TLS, host contract"
    "process-wide state" "dialogs" "connection" "expiry check and change" "plug-in")

# vantiro_layer(TARGET LAYER n): records the layer of a library defined elsewhere and
# adds the include check of the files in its folder.
function(vantiro_layer target)
  cmake_parse_arguments(ARG "" "LAYER" "" ${ARGN})
  set_property(TARGET ${target} PROPERTY VANTIRO_LAYER ${ARG_LAYER})
  set_property(GLOBAL APPEND PROPERTY VANTIRO_LAYER_TARGETS ${target})
  get_target_property(dir ${target} SOURCE_DIR)
  file(GLOB_RECURSE files CONFIGURE_DEPENDS "${dir}/*.cpp" "${dir}/*.h")
  list(SORT files)
  set(list_file "${CMAKE_CURRENT_BINARY_DIR}/${target}.layer_files")
  file(WRITE "${list_file}.new" "${files}")
  file(COPY_FILE "${list_file}.new" "${list_file}" ONLY_IF_DIFFERENT)
  set(stamp "${CMAKE_CURRENT_BINARY_DIR}/${target}.includes_checked")
  add_custom_command(OUTPUT "${stamp}"
    COMMAND ${CMAKE_COMMAND} -DLIST_FILE=${list_file} -DSTAMP=${stamp}
            -P "${VANTIRO_LAYERS_SCRIPT}"
    DEPENDS ${files} "${list_file}" "${VANTIRO_LAYERS_SCRIPT}"
    COMMENT "Checking the includes of ${target}" VERBATIM)
  add_custom_target(${target}_includes DEPENDS "${stamp}")
  add_dependencies(${target} ${target}_includes)
endfunction()

# vantiro_add_layer_library(NAME LAYER n [LINKS lib...]): a static library of the
# sources in the calling folder, with include/ as its public include root, linking the
# given libraries of lower layers.
function(vantiro_add_layer_library name)
  cmake_parse_arguments(ARG "" "LAYER" "LINKS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC "${CMAKE_CURRENT_SOURCE_DIR}/include")
  target_link_libraries(${name} PUBLIC ${ARG_LINKS})
  vantiro_layer(${name} LAYER ${ARG_LAYER})
endfunction()

# Fails the configuration when a layer's library links a library of a higher layer.
function(vantiro_check_layers)
  get_property(targets GLOBAL PROPERTY VANTIRO_LAYER_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(layer ${target} VANTIRO_LAYER)
    get_target_property(type ${target} TYPE)
    set(links)
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(direct ${target} LINK_LIBRARIES)
      if(direct)
        list(APPEND links ${direct})
      endif()
    endif()
    get_target_property(usage ${target} INTERFACE_LINK_LIBRARIES)
    if(usage)
      list(APPEND links ${usage})
    endif()
    foreach(link IN LISTS links)
      string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" link "${link}")
      if(NOT TARGET "${link}")
        continue()
      endif()
      get_target_property(other "${link}" VANTIRO_LAYER)
      if(other AND other GREATER layer)
        list(GET VANTIRO_LAYER_NAMES ${layer} name)
        list(GET VANTIRO_LAYER_NAMES ${other} other_name)
        message(FATAL_ERROR "${target} (layer ${layer}, ${name}) links ${link} (layer ${other}, "
                            "${other_name}): a layer may use only the layers below it")
      endif()
    endforeach()
  endforeach()
endfunction()

set(VANTIRO_LAYERS_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/CheckIncludes.cmake")

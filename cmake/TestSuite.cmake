# vantiro_add_test_suite_target(NAME DIRECTORIES dir... [EXCLUDE dir...]): a target that
# builds every program, library and module defined in the given source folders and
# their subfolders, except the excluded ones. The sanitizer builds build only what
# the test suite runs (the test programs, the tools and modules they start), not the
# benchmarks or the soak run. Called at the end of the top-level list file, once
# every folder has been read.
function(_vantiro_collect_targets dir exclude out)
  if(dir IN_LIST exclude)
    return()
  endif()
  get_property(targets DIRECTORY "${dir}" PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirs DIRECTORY "${dir}" PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    _vantiro_collect_targets("${sub}" "${exclude}" sub_targets)
    list(APPEND targets ${sub_targets})
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

function(vantiro_add_test_suite_target name)
  cmake_parse_arguments(ARG "" "" "DIRECTORIES;EXCLUDE" ${ARGN})
  list(TRANSFORM ARG_DIRECTORIES PREPEND "${CMAKE_SOURCE_DIR}/")
  list(TRANSFORM ARG_EXCLUDE PREPEND "${CMAKE_SOURCE_DIR}/")
  set(all)
  foreach(dir IN LISTS ARG_DIRECTORIES)
    _vantiro_collect_targets("${dir}" "${ARG_EXCLUDE}" found)
    list(APPEND all ${found})
  endforeach()
  set(built)
  foreach(target IN LISTS all)
    get_target_property(type ${target} TYPE)
    if(type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY)$")
      list(APPEND built ${target})
    endif()
  endforeach()
  add_custom_target(${name} DEPENDS ${built})
endfunction()

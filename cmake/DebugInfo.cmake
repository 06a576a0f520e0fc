# vantiro_line_tables_only(): in the calling folder and below, RelWithDebInfo keeps
# line tables but no full debug information (no types or locals). Full information
# costs a third of the compile time of the test programs and the tools, which are
# most of the build; their stack traces and profiles still name file and line, and
# the product's own code (src/) keeps everything for the debugger.
macro(vantiro_line_tables_only)
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    set(_vantiro_line_tables -gline-tables-only)
  else()
    set(_vantiro_line_tables -g1)
  endif()
  foreach(_vantiro_lang C CXX)
    string(REGEX REPLACE "(^| )-g( |$)" "\\1${_vantiro_line_tables}\\2"
           CMAKE_${_vantiro_lang}_FLAGS_RELWITHDEBINFO "${CMAKE_${_vantiro_lang}_FLAGS_RELWITHDEBINFO}")
  endforeach()
endmacro()

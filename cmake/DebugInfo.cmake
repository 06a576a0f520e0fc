# vantiro_line_tables_only(): in the calling folder and below, RelWithDebInfo keeps
# line tables but no full debug information (no types or locals). Full information
# costs a third of the compile time of the test programs and the tools, which are
# most of the build; their stack traces and profiles still name file and line, and
# the product's own code (src/) keeps everything for the debugger.
#
# VANTIRO_LINE_TABLES is the compiler's flag for line tables alone.
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  set(VANTIRO_LINE_TABLES -gline-tables-only)
else()
  set(VANTIRO_LINE_TABLES -g1)
endif()

macro(vantiro_line_tables_only)
  foreach(_vantiro_lang C CXX)
    string(REGEX REPLACE "(^| )-g( |$)" "\\1${VANTIRO_LINE_TABLES}\\2"
           CMAKE_${_vantiro_lang}_FLAGS_RELWITHDEBINFO "${CMAKE_${_vantiro_lang}_FLAGS_RELWITHDEBINFO}")
  endforeach()
endmacro()

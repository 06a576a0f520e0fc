# cmake -DLIST_FILE=f -DSTAMP=s -P CheckIncludes.cmake
# Fails when one of the files named in LIST_FILE includes a file by a path that goes up
# a folder or starts at the root: such a path reaches headers past the include roots
# that the layers' links give, so the layers would no longer be checked. Touches
# STAMP when every include is written from an include root.
file(READ "${LIST_FILE}" files)
set(bad)
foreach(file IN LISTS files)
  file(STRINGS "${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[\"<]([^\">]*)[\">].*$" "\\1" path "${line}")
    if(path MATCHES "^/" OR path MATCHES "(^|/)\\.\\.(/|$)" OR path MATCHES "^[A-Za-z]:")
      list(APPEND bad "${file}: #include \"${path}\"")
    endif()
  endforeach()
endforeach()
if(bad)
  list(JOIN bad "\n  " text)
  message(FATAL_ERROR "Includes must name a header from an include root that the "
                      "library's links give, not by a relative or absolute path:\n  ${text}")
endif()
file(TOUCH "${STAMP}")

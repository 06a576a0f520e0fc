# Cross-compiles for Windows with Debian's mingw-w64 compilers (i686, POSIX thread
# model, so that std::thread and std::mutex work). Programs built here run under Wine
# (CMAKE_CROSSCOMPILING_EMULATOR), which is how ctest starts the unit tests.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VANTIRO_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

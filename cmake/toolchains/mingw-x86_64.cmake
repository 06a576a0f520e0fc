# Cross-compiles for Windows with Debian's mingw-w64 compilers (x86_64, POSIX thread
# model, so that std::thread and std::mutex work). Programs built here run under Wine
# (CMAKE_CROSSCOMPILING_EMULATOR), which is how ctest starts the unit tests.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VANTIRO_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Cross-compiles for Windows with Debian's mingw-w64 compilers (i686, POSIX thread
# model, so that std::thread and std::mutex work). Programs built here run under Wine
# (CMAKE_CROSSCOMPILING_EMULATOR), which is how ctest starts the unit tests.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VANTIRO_MINGW_TRIPLE i686-w64-mingw32)
# 32-bit exceptions unwind with the DWARF-2 tables of the run-time that threw them:
# an exception thrown in one module (the plug-in's thread body) and caught in another
# (libqmos's thread) needs one shared run-time, so the run-time DLLs ship beside the
# programs and modules. (64-bit exceptions unwind through the system's tables, and
# each module keeps its run-time inside.)
set(VANTIRO_MINGW_SHARED_RUNTIME ON)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

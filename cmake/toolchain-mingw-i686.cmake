# Cross-builds 32-bit Windows programs on Linux with MinGW-w64. They compile
# here but cannot run: this machine's kernel has no 32-bit support.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TREL_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

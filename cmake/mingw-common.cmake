# Shared by the MinGW toolchain files; TREL_MINGW_TRIPLE names the target.
# The posix thread-model compilers are preferred; the plain names are the
# fallback (scripts/setup points them at the posix ones).
foreach(lang C CXX)
  if(lang STREQUAL "C")
    set(tool gcc)
  else()
    set(tool g++)
  endif()
  find_program(TREL_${lang}_COMPILER NAMES ${TREL_MINGW_TRIPLE}-${tool}-posix ${TREL_MINGW_TRIPLE}-${tool} REQUIRED)
  set(CMAKE_${lang}_COMPILER ${TREL_${lang}_COMPILER})
endforeach()
set(CMAKE_RC_COMPILER ${TREL_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TREL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Everything static: the programs must run on a clean Windows and import
# system DLLs only.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

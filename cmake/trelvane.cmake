# Project-wide helpers for targets.

# Our own code builds with every warning as an error.
# Only C and C++ sources: the resource compiler knows no warning options.
function(trel_warnings target)
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:C,CXX>:-Wall -Wextra -Werror>)
endfunction()

# Sanitizers for the native debug build (AddressSanitizer and
# UndefinedBehaviorSanitizer); a no-op when TREL_SANITIZE is off.
function(trel_sanitize target)
  if(TREL_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
endfunction()

# A portable library: warnings and sanitizers on.
function(trel_library target)
  add_library(${target} STATIC ${ARGN})
  trel_warnings(${target})
  trel_sanitize(${target})
endfunction()

# A native GoogleTest program registered with CTest.
function(trel_unit_test target)
  add_executable(${target} ${ARGN})
  trel_warnings(${target})
  trel_sanitize(${target})
  target_link_libraries(${target} PRIVATE GTest::gtest_main)
  gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60)
endfunction()

# Windows programs carry a version resource, compiled by the MinGW resource
# compiler (windres). The language is enabled here, at the top directory.
if(WIN32)
  enable_language(RC)
endif()

# What each shipped program is, for the FileDescription of its version
# resource; a program can also pass DESCRIPTION to trel_windows_program.
set(TREL_DESCRIPTION_model_chooser "trelvane model chooser")
set(TREL_DESCRIPTION_file_picker "trelvane file picker")
set(TREL_DESCRIPTION_model_stand_in "trelvane model program stand-in (demo)")

# Gives a Windows program a version resource made from the project version:
# file and product version, product name, description, original file name.
function(trel_version_resource target description)
  set(TREL_VR_NAME ${target})
  set(TREL_VR_DESCRIPTION "${description}")
  set(parts ${PROJECT_VERSION_MAJOR} ${PROJECT_VERSION_MINOR} ${PROJECT_VERSION_PATCH} ${PROJECT_VERSION_TWEAK})
  list(LENGTH parts count)
  while(count LESS 4)
    list(APPEND parts 0)
    math(EXPR count "${count} + 1")
  endwhile()
  list(JOIN parts "," TREL_VR_NUMBERS)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()

# A Windows program we ship: warnings on, statically linked (toolchain), a
# version resource, and a test that its import table names system DLLs only.
#   trel_windows_program(target [DESCRIPTION text])
function(trel_windows_program target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "DESCRIPTION" "")
  if(NOT arg_DESCRIPTION)
    if(DEFINED TREL_DESCRIPTION_${target})
      set(arg_DESCRIPTION "${TREL_DESCRIPTION_${target}}")
    else()
      set(arg_DESCRIPTION "${PROJECT_NAME} ${target}")
    endif()
  endif()
  trel_warnings(${target})
  trel_version_resource(${target} "${arg_DESCRIPTION}")
  add_test(NAME imports.${target}
    COMMAND ${CMAKE_SOURCE_DIR}/tests/build/check_imports.sh $<TARGET_FILE:${target}>)
endfunction()

# Reproducible Windows builds: time stamps and paths.
include(${CMAKE_CURRENT_LIST_DIR}/reproducible.cmake)

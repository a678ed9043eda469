# Project-wide helpers for targets.

# Our own code builds with every warning as an error.
function(trel_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
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

# A Windows program we ship: warnings on, statically linked (toolchain), and
# a test that its import table names system DLLs only.
function(trel_windows_program target)
  trel_warnings(${target})
  add_test(NAME imports.${target}
    COMMAND ${CMAKE_SOURCE_DIR}/tests/build/check_imports.sh $<TARGET_FILE:${target}>)
endfunction()

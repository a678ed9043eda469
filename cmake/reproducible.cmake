# Windows builds of one commit give the same bytes wherever and whenever
# they run. Included at the top directory, so it covers every target.
#
# TREL_SOURCE_DATE_EPOCH stands for "now" in every time stamp the release
# carries (PE headers, objcopy's rewrite, ZIP entries): SOURCE_DATE_EPOCH
# from the environment when set, else the commit's time.
if(NOT WIN32)
  return()
endif()

if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(TREL_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  execute_process(COMMAND git log -1 --format=%ct
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    OUTPUT_VARIABLE TREL_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE git_status ERROR_QUIET)
  if(git_status EQUAL 0 AND TREL_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
    # A new commit configures again, so the time follows it.
    execute_process(COMMAND git rev-parse --git-path logs/HEAD
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
      OUTPUT_VARIABLE head_log OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    get_filename_component(head_log "${head_log}" ABSOLUTE BASE_DIR ${PROJECT_SOURCE_DIR})
    if(EXISTS "${head_log}")
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${head_log}")
    endif()
  else()
    # Outside git, as from a source archive: the top CMakeLists.txt's time,
    # which unpacking keeps.
    file(TIMESTAMP ${PROJECT_SOURCE_DIR}/CMakeLists.txt TREL_SOURCE_DATE_EPOCH "%s" UTC)
    message(STATUS "No git commit: SOURCE_DATE_EPOCH is the time of CMakeLists.txt")
  endif()
endif()
message(STATUS "SOURCE_DATE_EPOCH: ${TREL_SOURCE_DATE_EPOCH}")

# Prefix for commands that write time stamps: ld puts the time into the PE
# header, objcopy puts it there again when it rewrites a program.
set(TREL_WITH_EPOCH ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${TREL_SOURCE_DATE_EPOCH})
list(JOIN TREL_WITH_EPOCH " " launcher)
set_property(GLOBAL PROPERTY RULE_LAUNCH_LINK "${launcher}")

# Debug information (it goes to the symbols archive; the shipped programs
# are stripped) names the source files and the directory of the build.
# Source paths become relative to the source tree, the build directory
# "."; it comes last so that it wins over the source tree it lies in. The
# tools join the two, so an address resolves to, say, ./picker/handoff.cpp.
# windres takes no such options.
add_compile_options(
  "$<$<COMPILE_LANGUAGE:C,CXX>:-g;-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=;-ffile-prefix-map=${PROJECT_BINARY_DIR}=.>")

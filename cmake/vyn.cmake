# Project-wide compile settings and the two helpers every source folder uses.
#
#   vyn_library(<name> [PORTABLE src...] [WINDOWS src...] [DEPS target...])
#   vyn_tests(<name> [PORTABLE src...] [WINDOWS src...] [DEPS target...] [FIXTURES name...]
#             [LOCKS name...])  FIXTURES: ctest fixtures the cases need; LOCKS: resource locks they hold
#
# PORTABLE sources have no <windows.h> and build for both the Windows target and the native host
# (maker tool, fuzzers, host tests); WINDOWS sources build only for the target. A library with no
# sources for the configuration at hand is not created.

add_library(vyn_options INTERFACE)
target_compile_options(vyn_options INTERFACE -Wall -Wextra -Wpedantic -Wno-missing-field-initializers)
target_include_directories(vyn_options INTERFACE ${PROJECT_SOURCE_DIR}/src)
if(VYN_WINDOWS)
  target_compile_definitions(vyn_options INTERFACE
    UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00 WINVER=0x0A00 STRICT)
  target_link_options(vyn_options INTERFACE -static -static-libgcc -static-libstdc++)
endif()
target_link_libraries(vyn_options INTERFACE vyn_fmt)

function(_vyn_sources out)
  cmake_parse_arguments(A "" "" "PORTABLE;WINDOWS;DEPS;FIXTURES;LOCKS" ${ARGN})
  set(srcs ${A_PORTABLE})
  if(VYN_WINDOWS)
    list(APPEND srcs ${A_WINDOWS})
  endif()
  set(${out} ${srcs} PARENT_SCOPE)
  set(${out}_DEPS ${A_DEPS} PARENT_SCOPE)
  set(${out}_FIXTURES ${A_FIXTURES} PARENT_SCOPE)
  set(${out}_LOCKS ${A_LOCKS} PARENT_SCOPE)
endfunction()

function(vyn_library name)
  _vyn_sources(srcs ${ARGN})
  if(NOT srcs)
    return()
  endif()
  add_library(${name} STATIC ${srcs})
  target_link_libraries(${name} PUBLIC vyn_options ${srcs_DEPS})
endfunction()

# Windows tests run under Wine through the emulator set in the configuration; each test case is
# discovered and run as a ctest test of its own.
option(VYN_TARGET_TESTS "Build the Windows test programs (off where they cannot run)" ON)
# Where the target's code runs only under a slow processor emulator, the test programs are built on
# request (target vyn_smoke_programs) and only the cases named with vyn_smoke_test run, each set in
# one process, instead of every discovered case.
option(VYN_SMOKE_TESTS_ONLY "Register only the smoke set of the Windows tests" OFF)
if(VYN_WINDOWS AND VYN_SMOKE_TESTS_ONLY AND NOT TARGET vyn_smoke_programs)
  add_custom_target(vyn_smoke_programs)
endif()

function(vyn_tests name)
  if(NOT BUILD_TESTING OR (VYN_WINDOWS AND NOT VYN_TARGET_TESTS))
    return()
  endif()
  _vyn_sources(srcs ${ARGN})
  if(NOT srcs)
    return()
  endif()
  if(VYN_WINDOWS AND VYN_SMOKE_TESTS_ONLY)
    add_executable(${name} EXCLUDE_FROM_ALL ${srcs})
  else()
    add_executable(${name} ${srcs})
  endif()
  target_link_libraries(${name} PRIVATE vyn_options ${srcs_DEPS} gmock gtest_main)
  if(NOT (VYN_WINDOWS AND VYN_SMOKE_TESTS_ONLY))
    set(extra)
    if(srcs_FIXTURES)
      list(APPEND extra FIXTURES_REQUIRED "${srcs_FIXTURES}")
    endif()
    if(srcs_LOCKS)
      list(APPEND extra RESOURCE_LOCK "${srcs_LOCKS}")
    endif()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
      PROPERTIES TIMEOUT 300 ${extra} ENVIRONMENT "VYN_BUILD_DIR=${CMAKE_BINARY_DIR}")
  endif()
endfunction()

#   vyn_smoke_test(<name> TARGET <test program> FILTER <gtest filter> [FIXTURES name...])
# One ctest test (label "smoke") that runs the filtered cases of a test program in one process;
# registered only in a smoke configuration, where it replaces the discovered cases.
function(vyn_smoke_test name)
  cmake_parse_arguments(A "" "TARGET;FILTER" "FIXTURES" ${ARGN})
  if(NOT (VYN_WINDOWS AND VYN_SMOKE_TESTS_ONLY AND TARGET ${A_TARGET}))
    return()
  endif()
  add_dependencies(vyn_smoke_programs ${A_TARGET})
  # A target name as the command runs it through the configuration's emulator (Wine).
  add_test(NAME ${name} COMMAND ${A_TARGET} --gtest_filter=${A_FILTER})
  set_tests_properties(${name} PROPERTIES LABELS smoke TIMEOUT 1500
    ENVIRONMENT "VYN_BUILD_DIR=${CMAKE_BINARY_DIR}")
  if(A_FIXTURES)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED "${A_FIXTURES}")
  endif()
endfunction()

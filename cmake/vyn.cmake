# Project-wide compile settings and the two helpers every source folder uses.
#
#   vyn_library(<name> [PORTABLE src...] [WINDOWS src...] [DEPS target...])
#   vyn_tests(<name> [PORTABLE src...] [WINDOWS src...] [DEPS target...] [FIXTURES name...]
#             [LOCKS name...])  FIXTURES: ctest fixtures the cases need; LOCKS: resource locks they hold
#   vyn_script_tests(<name> COMMAND <command...> CASES <case...> [LOCKS name...] [ENVIRONMENT var=value...])
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

# Every Windows test runs while the test display (tests/ui/display) is up, those that open no
# window too: Wine binds its desktop to the display of the first program that needs one, so none
# may start without it while others show windows.
set(VYN_TEST_DISPLAY_FIXTURE "")
if(VYN_WINDOWS AND BUILD_TESTING AND VYN_TARGET_TESTS)
  set(VYN_TEST_DISPLAY_FIXTURE vyn_display)
  set(_display ${PROJECT_SOURCE_DIR}/tests/ui/display)
  add_test(NAME vyn_display_start COMMAND ${_display} start ${CMAKE_BINARY_DIR}/test-display)
  add_test(NAME vyn_display_stop COMMAND ${_display} stop ${CMAKE_BINARY_DIR}/test-display)
  set_tests_properties(vyn_display_start PROPERTIES FIXTURES_SETUP vyn_display TIMEOUT 60)
  set_tests_properties(vyn_display_stop PROPERTIES FIXTURES_CLEANUP vyn_display TIMEOUT 60)
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
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
      PROPERTIES TIMEOUT 300 ENVIRONMENT "VYN_BUILD_DIR=${CMAKE_BINARY_DIR}")
    # Fixtures and locks are lists, which the discovery's own properties would flatten into the
    # property names around them; a script that ctest reads after the discovery gives them to
    # every discovered case as whole lists.
    set(fixtures ${srcs_FIXTURES} ${VYN_TEST_DISPLAY_FIXTURE})
    if(fixtures OR srcs_LOCKS)
      set(script "if(DEFINED ${name}_TESTS AND ${name}_TESTS)\n")
      if(fixtures)
        string(APPEND script "  set_tests_properties(\${${name}_TESTS} PROPERTIES FIXTURES_REQUIRED [==[${fixtures}]==])\n")
      endif()
      if(srcs_LOCKS)
        string(APPEND script "  set_tests_properties(\${${name}_TESTS} PROPERTIES RESOURCE_LOCK [==[${srcs_LOCKS}]==])\n")
      endif()
      string(APPEND script "endif()\n")
      file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${name}_conditions.cmake "${script}")
      set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_CURRENT_BINARY_DIR}/${name}_conditions.cmake)
    endif()
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
  set(fixtures ${A_FIXTURES} ${VYN_TEST_DISPLAY_FIXTURE})
  if(fixtures)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED "${fixtures}")
  endif()
endfunction()

# Tests that a script drives (tests/ui/stub_ui_test.py), one ctest test <name>.<case> per case with
# the case as the command's last argument, under the conditions of the discovered cases: none in a
# smoke configuration, the test display up, 300 s each. Where they are registered, the target
# <name> exists (built with the rest): give it the programs and files the script needs.
function(vyn_script_tests name)
  if(NOT BUILD_TESTING OR (VYN_WINDOWS AND (NOT VYN_TARGET_TESTS OR VYN_SMOKE_TESTS_ONLY)))
    return()
  endif()
  cmake_parse_arguments(A "" "" "COMMAND;CASES;LOCKS;ENVIRONMENT" ${ARGN})
  add_custom_target(${name} ALL)
  foreach(_case ${A_CASES})
    add_test(NAME ${name}.${_case} COMMAND ${A_COMMAND} ${_case})
    set_tests_properties(${name}.${_case} PROPERTIES TIMEOUT 300
      ENVIRONMENT "VYN_BUILD_DIR=${CMAKE_BINARY_DIR};${A_ENVIRONMENT}")
    if(VYN_TEST_DISPLAY_FIXTURE)
      set_tests_properties(${name}.${_case} PROPERTIES FIXTURES_REQUIRED ${VYN_TEST_DISPLAY_FIXTURE})
    endif()
    if(A_LOCKS)
      set_tests_properties(${name}.${_case} PROPERTIES RESOURCE_LOCK "${A_LOCKS}")
    endif()
  endforeach()
endfunction()

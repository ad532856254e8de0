# Checks of development_keys.cmake, run with
#   cmake -DREPO=<source folder> -DSCRATCH=<empty folder> -P development_keys_test.cmake
# Fails (a fatal error) on the first wrong result.
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/development_keys.cmake)

set(dev "${REPO}/keys/dev")
file(REMOVE_RECURSE "${SCRATCH}")
file(MAKE_DIRECTORY "${SCRATCH}")

function(expect what actual expected)
  if(NOT "${actual}" STREQUAL "${expected}")
    message(FATAL_ERROR "${what}: got '${actual}', expected '${expected}'")
  endif()
endfunction()

# A folder of one key: a development key under another name, or a key of its own.
function(one_key_folder dir point)
  file(MAKE_DIRECTORY "${dir}")
  file(WRITE "${dir}/keys.txt" "7 ecdsa mine\n")
  file(WRITE "${dir}/mine.pub" "point ${point}\n")
endfunction()
file(STRINGS "${dev}/set7-ecdsa-0.pub" dev_point REGEX "^point ")
string(REPLACE "point " "" dev_point "${dev_point}")
string(TOUPPER "${dev_point}" dev_point_upper)  # the same key written in capitals
string(SUBSTRING "${dev_point}" 0 128 own_point)
string(APPEND own_point "00")

one_key_folder("${SCRATCH}/renamed" "${dev_point_upper}")
one_key_folder("${SCRATCH}/own" "${own_point}")
foreach(case "keys/dev|${dev}|TRUE" "a development key renamed|${SCRATCH}/renamed|TRUE" "own key|${SCRATCH}/own|FALSE")
  string(REPLACE "|" ";" case "${case}")
  list(GET case 0 what)
  list(GET case 1 dir)
  list(GET case 2 expected)
  vyn_trusts_development_keys("${dir}" "${dev}" trusted)
  expect("${what}" "${trusted}" "${expected}")
endforeach()

foreach(case "Release|TRUE|OFF|refused" "MinSizeRel|TRUE|OFF|refused" "release|TRUE|OFF|refused"
             "Release|TRUE|ON|built" "Release|FALSE|OFF|built" "RelWithDebInfo|TRUE|OFF|built" "Debug|TRUE|OFF|built"
             "|TRUE|OFF|built")
  string(REPLACE "|" ";" case "${case}")
  list(GET case 0 type)
  list(GET case 1 trusted)
  list(GET case 2 allowed)
  list(GET case 3 expected)
  vyn_release_key_problem("${type}" ${trusted} ${allowed} problem)
  if(problem)
    set(result refused)
  else()
    set(result built)
  endif()
  expect("build type '${type}', development keys ${trusted}, allowed ${allowed}" "${result}" "${expected}")
endforeach()

# The project itself: a release configuration with the default key folder stops at once.
execute_process(COMMAND ${CMAKE_COMMAND} -S "${REPO}" -B "${SCRATCH}/release" -DCMAKE_BUILD_TYPE=Release
                RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(code EQUAL 0 OR NOT err MATCHES "trusts[ \n]+the[ \n]+development[ \n]+keys")
  message(FATAL_ERROR "a release configuration with keys/dev was not refused (exit ${code}):\n${err}")
endif()
message(STATUS "development keys: all checks passed")

# cmake -DSFXTOOL=... -DKEY_DIR=... -DINPUT=... -DOUTPUT=... -P sign_stub.cmake
if(NOT SFXTOOL OR NOT EXISTS "${SFXTOOL}")
  message(STATUS "vyn-sfx-signed.exe not made: no host sfxtool at '${SFXTOOL}' (build the host "
                 "configuration first; scripts/test does)")
  file(REMOVE "${OUTPUT}")
  return()
endif()
if(EXISTS "${OUTPUT}" AND NOT "${INPUT}" IS_NEWER_THAN "${OUTPUT}" AND NOT "${SFXTOOL}" IS_NEWER_THAN "${OUTPUT}"
   AND NOT "${KEY_DIR}/keys.txt" IS_NEWER_THAN "${OUTPUT}")
  return()
endif()
execute_process(
  COMMAND "${SFXTOOL}" build --quiet --keys "${KEY_DIR}" --set 7 --key dsa:0 --version 2 "${INPUT}" "${OUTPUT}"
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(REMOVE "${OUTPUT}")
  message(FATAL_ERROR "sfxtool could not sign the stub (exit code ${result})")
endif()

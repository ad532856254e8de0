# Builds two stubs that a maker signs with Authenticode after sfxtool, with a certificate made
# for the purpose, and checks that the Authenticode table went where the stub expects it:
#   OUT_DIR/authenticode-v3.exe  digest version 3 (nothing to prepare)
#   OUT_DIR/authenticode-v2.exe  digest version 2, built with the certificate entry reserved for a
#                                table of the size the version-3 trial showed
# Run with cmake -P and SFXTOOL, OSSLSIGNCODE, OPENSSL, OUT_DIR, STUB, KEY_ARGS and ENTRY_ARGS
# (both ;-lists of sfxtool build options).
cmake_minimum_required(VERSION 3.25)

function(run_or_fail)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT code EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "${command} failed (${code}):\n${out}${err}")
  endif()
endfunction()

# The little-endian 32-bit value at offset.
function(read_u32 file offset out)
  file(READ "${file}" hex OFFSET ${offset} LIMIT 4 HEX)
  string(REGEX REPLACE "(..)(..)(..)(..)" "\\4\\3\\2\\1" hex "${hex}")
  math(EXPR value "0x${hex}")
  set(${out} ${value} PARENT_SCOPE)
endfunction()

# The size of the certificate table that the image's data directory names.
function(cert_table_size file out)
  read_u32("${file}" 60 nt)
  math(EXPR magic_at "${nt} + 24")
  file(READ "${file}" magic OFFSET ${magic_at} LIMIT 2 HEX)
  if(magic STREQUAL "0b01")
    math(EXPR entry "${nt} + 152 + 4")
  else()
    math(EXPR entry "${nt} + 168 + 4")
  endif()
  read_u32("${file}" ${entry} size)
  set(${out} ${size} PARENT_SCOPE)
endfunction()

function(build_and_authenticode version extra out)
  set(unsigned "${OUT_DIR}/authenticode-v${version}.unsigned.exe")
  file(REMOVE "${unsigned}" "${out}")
  run_or_fail("${SFXTOOL}" build --quiet ${KEY_ARGS} --version ${version} ${extra} ${ENTRY_ARGS} "${STUB}" "${unsigned}")
  run_or_fail("${OSSLSIGNCODE}" sign -certs "${OUT_DIR}/authenticode-cert.pem" -key "${OUT_DIR}/authenticode-key.pem"
              -in "${unsigned}" -out "${out}")
  run_or_fail("${OSSLSIGNCODE}" verify -CAfile "${OUT_DIR}/authenticode-cert.pem" "${out}")
endfunction()

file(MAKE_DIRECTORY "${OUT_DIR}")
run_or_fail("${OPENSSL}" req -x509 -newkey rsa:2048 -nodes -days 3650 -subj /CN=vyn-sfx-test
            -keyout "${OUT_DIR}/authenticode-key.pem" -out "${OUT_DIR}/authenticode-cert.pem")
build_and_authenticode(3 "" "${OUT_DIR}/authenticode-v3.exe")
cert_table_size("${OUT_DIR}/authenticode-v3.exe" table)
if(table EQUAL 0)
  message(FATAL_ERROR "${OUT_DIR}/authenticode-v3.exe carries no certificate table")
endif()
build_and_authenticode(2 "--reserve-cert-table;${table}" "${OUT_DIR}/authenticode-v2.exe")
cert_table_size("${OUT_DIR}/authenticode-v2.exe" reserved)
if(NOT reserved EQUAL table)
  message(FATAL_ERROR "the Authenticode table of authenticode-v2.exe has ${reserved} bytes, ${table} were reserved")
endif()

# Windows configurations: bin/vyn-sfx-signed.exe, the stub with an empty payload (its linker's
# symbol table dropped, so nothing but the end record follows the sections), signed with the first
# DSA key of key set 7 (digest version 2) by the host build's sfxtool, which the tests use. VYN_SFXTOOL names
# that program (scripts/lib/common.sh sets it); without it, or before the host configuration is
# built, the signed stub is skipped with a note. The helpers of sfx_fixture.cmake (test stubs
# with their payload, repositories, signed files) become available to the folders added after this.
include(${CMAKE_CURRENT_LIST_DIR}/sfx_fixture.cmake)
add_custom_target(vyn-sfx-signed ALL
  COMMAND ${CMAKE_COMMAND} -DSFXTOOL=${VYN_SFXTOOL} -DKEY_DIR=${VYN_KEY_DIR}
          -DINPUT=$<TARGET_FILE:vyn-sfx> -DOUTPUT=${CMAKE_BINARY_DIR}/bin/vyn-sfx-signed.exe
          -P ${CMAKE_CURRENT_LIST_DIR}/sign_stub.cmake
  DEPENDS vyn-sfx
  BYPRODUCTS ${CMAKE_BINARY_DIR}/bin/vyn-sfx-signed.exe
  COMMENT "Signing the stub with the host sfxtool"
  VERBATIM)

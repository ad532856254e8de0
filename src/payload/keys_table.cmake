# Turns a key folder (see tools/sfxtool/key_folder.h for its format) into C++ sources:
#   the public key table built into the stub (keys.h's built_in_key_sets), and
#   for the tests only, the folder's private PEM files (signature_testing.h's test_private_keys).
#
# Included from a CMakeLists it defines vyn_key_table(); run with cmake -P it generates the
# sources (the build runs it whenever the folder's files change).

if(CMAKE_SCRIPT_MODE_FILE)
  cmake_minimum_required(VERSION 3.25)
endif()

# Reads keys.txt into a list of "set|kind|name" entries, in file order.
function(_vyn_read_key_index dir out)
  set(index "${dir}/keys.txt")
  if(NOT EXISTS "${index}")
    message(FATAL_ERROR "Key folder '${dir}' has no keys.txt; make one with 'sfxtool keygen <folder>'.")
  endif()
  file(STRINGS "${index}" lines)
  set(entries "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "#.*" "" line "${line}")
    string(STRIP "${line}" line)
    if(line STREQUAL "")
      continue()
    endif()
    if(NOT line MATCHES "^([0-9]+)[ \t]+(dsa|ecdsa)[ \t]+([A-Za-z0-9_-]+)$")
      message(FATAL_ERROR "${index}: malformed line '${line}' (expected '<set> <dsa|ecdsa> <name>')")
    endif()
    list(APPEND entries "${CMAKE_MATCH_1}|${CMAKE_MATCH_2}|${CMAKE_MATCH_3}")
  endforeach()
  set(${out} "${entries}" PARENT_SCOPE)
endfunction()

# "a1b2..." → "0xa1, 0xb2, ..." wrapped every 16 bytes.
function(_vyn_hex_bytes hex out)
  string(REGEX REPLACE "([0-9a-fA-F][0-9a-fA-F])" "0x\\1, " bytes "${hex}")
  string(REGEX REPLACE "((0x[0-9a-fA-F][0-9a-fA-F], ){16})" "\\1\n    " bytes "${bytes}")
  string(REGEX REPLACE "[ \n]+$" "" bytes "${bytes}")
  set(${out} "${bytes}" PARENT_SCOPE)
endfunction()

# Reads <name>.pub; sets <prefix>_<field> for each field and checks the sizes.
function(_vyn_read_public_key file kind prefix)
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "Public key file '${file}' is missing.")
  endif()
  file(STRINGS "${file}" lines)
  if(kind STREQUAL "dsa")
    set(fields p q g y)
    set(sizes 256 32 256 256)
  else()
    set(fields point)
    set(sizes 65)
  endif()
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "#.*" "" line "${line}")
    string(STRIP "${line}" line)
    if(line STREQUAL "")
      continue()
    endif()
    if(NOT line MATCHES "^([a-z]+)[ \t]+([0-9a-fA-F]+)$")
      message(FATAL_ERROR "${file}: malformed line '${line}'")
    endif()
    list(FIND fields "${CMAKE_MATCH_1}" at)
    if(at LESS 0)
      message(FATAL_ERROR "${file}: unexpected field '${CMAKE_MATCH_1}'")
    endif()
    list(GET sizes ${at} size)
    string(LENGTH "${CMAKE_MATCH_2}" length)
    math(EXPR expected "2 * ${size}")
    if(NOT length EQUAL expected)
      message(FATAL_ERROR "${file}: field '${CMAKE_MATCH_1}' must be ${size} bytes")
    endif()
    string(TOLOWER "${CMAKE_MATCH_2}" value)
    set(${prefix}_${CMAKE_MATCH_1} "${value}" PARENT_SCOPE)
    set(seen_${CMAKE_MATCH_1} TRUE)
  endforeach()
  foreach(field IN LISTS fields)
    if(NOT seen_${field})
      message(FATAL_ERROR "${file}: field '${field}' is missing")
    endif()
  endforeach()
endfunction()

function(_vyn_write_if_changed file content)
  file(WRITE "${file}.new" "${content}")
  file(COPY_FILE "${file}.new" "${file}" ONLY_IF_DIFFERENT)
  file(REMOVE "${file}.new")
endfunction()

function(_vyn_generate_key_sources dir public_source private_source with_private)
  _vyn_read_key_index("${dir}" entries)
  set(arrays "")
  set(sets "")
  set(private_entries "")
  set(domains "")
  foreach(entry IN LISTS entries)
    string(REPLACE "|" ";" parts "${entry}")
    list(GET parts 0 key_set)
    list(GET parts 1 kind)
    list(GET parts 2 name)
    string(MAKE_C_IDENTIFIER "${name}" id)
    if(NOT key_set IN_LIST sets)
      list(APPEND sets ${key_set})
      set(dsa_${key_set} "")
      set(ecdsa_${key_set} "")
    endif()
    _vyn_read_public_key("${dir}/${name}.pub" ${kind} key)
    if(kind STREQUAL "dsa")
      # Keys that share a domain share its arrays.
      string(SHA256 domain_hash "${key_p}${key_q}${key_g}")
      string(SUBSTRING "${domain_hash}" 0 16 domain_hash)
      set(domain "domain_${domain_hash}")
      if(NOT domain IN_LIST domains)
        list(APPEND domains ${domain})
        foreach(field p q g)
          _vyn_hex_bytes("${key_${field}}" bytes)
          string(APPEND arrays "constexpr std::uint8_t ${domain}_${field}[] = {\n    ${bytes}};\n")
        endforeach()
      endif()
      _vyn_hex_bytes("${key_y}" bytes)
      string(APPEND arrays "constexpr std::uint8_t ${id}_y[] = {\n    ${bytes}};\n")
      string(APPEND dsa_${key_set} "    {${domain}_p, ${domain}_q, ${domain}_g, ${id}_y},\n")
    else()
      _vyn_hex_bytes("${key_point}" bytes)
      string(APPEND arrays "constexpr std::uint8_t ${id}_point[] = {\n    ${bytes}};\n")
      string(APPEND ecdsa_${key_set} "    std::span<const std::uint8_t>(${id}_point),\n")
    endif()
    if(with_private AND EXISTS "${dir}/${name}.pem")
      file(READ "${dir}/${name}.pem" pem)
      string(APPEND private_entries "    {${key_set}, signature::key_kind::${kind}, \"${name}\", R\"pem(${pem})pem\"},\n")
    endif()
  endforeach()
  foreach(required 7 8)
    if(NOT required IN_LIST sets)
      message(FATAL_ERROR "Key folder '${dir}' has no keys of key set ${required}.")
    endif()
  endforeach()

  set(tables "")
  set(set_list "")
  foreach(key_set IN LISTS sets)
    set(dsa_span "{}")
    set(ecdsa_span "{}")
    if(NOT "${dsa_${key_set}}" STREQUAL "")
      string(APPEND tables "constexpr crypto::dsa_public_key set${key_set}_dsa[] = {\n${dsa_${key_set}}};\n")
      set(dsa_span "set${key_set}_dsa")
    endif()
    if(NOT "${ecdsa_${key_set}}" STREQUAL "")
      string(APPEND tables "constexpr std::span<const std::uint8_t> set${key_set}_ecdsa[] = {\n${ecdsa_${key_set}}};\n")
      set(ecdsa_span "set${key_set}_ecdsa")
    endif()
    string(APPEND set_list "    {${key_set}, ${dsa_span}, ${ecdsa_span}},\n")
  endforeach()

  _vyn_write_if_changed("${public_source}" "\
// Generated from the key folder ${dir} by src/payload/keys_table.cmake; do not edit.
#include \"payload/keys.h\"

namespace vyn::sfx::keys {
namespace {

${arrays}
${tables}
constexpr key_set sets[] = {
${set_list}};

}  // namespace

std::span<const key_set> built_in_key_sets() noexcept { return sets; }

}  // namespace vyn::sfx::keys
")
  _vyn_write_if_changed("${private_source}" "\
// Generated from the key folder ${dir} by src/payload/keys_table.cmake; do not edit.
// The private keys of the folder, for the tests' own signatures only.
#include \"payload/signature_testing.h\"

namespace vyn::sfx::testing {
namespace {

const private_key_file files[] = {
${private_entries}    {0, signature::key_kind::dsa, nullptr, nullptr}};

}  // namespace

std::span<const private_key_file> test_private_keys() noexcept {
  return std::span<const private_key_file>(files, std::size(files) - 1);
}

}  // namespace vyn::sfx::testing
")
endfunction()

# Only when this file is the script (it is also included by other scripts for its functions).
if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  _vyn_generate_key_sources("${KEY_DIR}" "${PUBLIC_SOURCE}" "${PRIVATE_SOURCE}" "${WITH_PRIVATE}")
  return()
endif()

# vyn_key_table(KEY_DIR <folder> PUBLIC_SOURCE <file> PRIVATE_SOURCE <file> WITH_PRIVATE <bool>):
# the rule that generates both sources, re-run when the folder's index or key files change. Without
# WITH_PRIVATE the private source lists no keys.
function(vyn_key_table)
  cmake_parse_arguments(A "" "KEY_DIR;PUBLIC_SOURCE;PRIVATE_SOURCE;WITH_PRIVATE" "" ${ARGN})
  if(A_WITH_PRIVATE)
    set(A_WITH_PRIVATE ON)
  else()
    set(A_WITH_PRIVATE OFF)
  endif()
  _vyn_read_key_index("${A_KEY_DIR}" entries)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${A_KEY_DIR}/keys.txt")
  set(depends "${A_KEY_DIR}/keys.txt" "${CMAKE_CURRENT_FUNCTION_LIST_FILE}")
  foreach(entry IN LISTS entries)
    string(REPLACE "|" ";" parts "${entry}")
    list(GET parts 2 name)
    list(APPEND depends "${A_KEY_DIR}/${name}.pub")
    if(A_WITH_PRIVATE AND EXISTS "${A_KEY_DIR}/${name}.pem")
      list(APPEND depends "${A_KEY_DIR}/${name}.pem")
    endif()
  endforeach()
  add_custom_command(
    OUTPUT "${A_PUBLIC_SOURCE}" "${A_PRIVATE_SOURCE}"
    COMMAND ${CMAKE_COMMAND} -DKEY_DIR=${A_KEY_DIR} -DPUBLIC_SOURCE=${A_PUBLIC_SOURCE}
            -DPRIVATE_SOURCE=${A_PRIVATE_SOURCE} -DWITH_PRIVATE=${A_WITH_PRIVATE} -P ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
    DEPENDS ${depends}
    COMMENT "Generating the key table from ${A_KEY_DIR}"
    VERBATIM)
endfunction()

# Whether a key folder trusts the development keys of keys/dev, whose private halves are public,
# and the rule that a release configuration does not build with them.
#
#   vyn_public_key_digests(<folder> <out>)   SHA-256 of each public key of the folder (of the DSA
#                                            key's y, of the ECDSA point; lower-case hexadecimal)
#   vyn_trusts_development_keys(<folder> <development folder> <out>)
#                                            TRUE when any public key of the folder is one of the
#                                            development folder's
#   vyn_release_key_problem(<build type> <trusts development keys> <allowed> <out>)
#                                            the text that refuses the configuration, or empty
#
# Usable from a CMakeLists and from cmake -P scripts.
include_guard(GLOBAL)
include(${CMAKE_CURRENT_LIST_DIR}/../src/payload/keys_table.cmake)

function(vyn_public_key_digests dir out)
  _vyn_read_key_index("${dir}" entries)
  set(digests "")
  foreach(entry IN LISTS entries)
    string(REPLACE "|" ";" parts "${entry}")
    list(GET parts 1 kind)
    list(GET parts 2 name)
    _vyn_read_public_key("${dir}/${name}.pub" ${kind} key)
    if(kind STREQUAL "dsa")
      string(SHA256 digest "${key_y}")
    else()
      string(SHA256 digest "${key_point}")
    endif()
    list(APPEND digests ${digest})
  endforeach()
  set(${out} "${digests}" PARENT_SCOPE)
endfunction()

function(vyn_trusts_development_keys dir development_dir out)
  vyn_public_key_digests("${dir}" digests)
  vyn_public_key_digests("${development_dir}" development)
  set(result FALSE)
  foreach(digest IN LISTS digests)
    if(digest IN_LIST development)
      set(result TRUE)
      break()
    endif()
  endforeach()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

# Release and MinSizeRel are release configurations; the others are for development and tests.
function(vyn_release_key_problem build_type trusts_development allowed out)
  set(problem "")
  string(TOUPPER "${build_type}" type)
  if(trusts_development AND NOT allowed AND type MATCHES "^(RELEASE|MINSIZEREL)$")
    set(problem "The ${build_type} configuration would build a stub that trusts the development keys of "
                "keys/dev, whose private halves are public: anyone could sign what it accepts. Name a key "
                "folder made by 'sfxtool keygen' with -DVYN_KEY_DIR=<folder>, or, for a build that is not "
                "shipped, allow the development keys with -DVYN_ALLOW_DEVELOPMENT_KEYS=ON.")
    string(JOIN "" problem ${problem})
  endif()
  set(${out} "${problem}" PARENT_SCOPE)
endfunction()

# Signed stubs and repository trees made at build time by the host build's sfxtool (VYN_SFXTOOL),
# for tests of the Windows configurations. Each call adds one custom command whose outputs are
# remade when the tool, the stub, an input file or the key folder changes.
#
#   vyn_sfx_stub(OUTPUT <file> STUB <target|file> KEYS <dir> KEY <key>
#                [FILES <target|path>[:<alias>]...] [HASHED <target|path>...] [DIRS <dir>...]
#                [LISTS <file>...] [LZMA] [VERSION 2|3] [SET <n>] [TIMESTAMP <seconds>]
#                [ALLOW_DUPLICATES] [NO_STRIP] [DEPENDS <file|target>...] [TARGET <name>])
#
#     Records in the order FILES, HASHED, DIRS, LISTS (a list file can interleave them and switch
#     between stored and LZMA per record; what it names is not tracked: add it to DEPENDS). LZMA
#     packs every record. Relative paths are taken from the calling folder's source folder.
#     Without NO_STRIP the stub is first stripped of its debug information (once per folder and
#     stub), which keeps fixture stubs small and quick to sign and to start.
#
#   vyn_sfx_repository(OUTPUT <dir> PRODUCT <name> CHANNEL <channel> KEYS <dir> KEY <key>
#                      [PRODUCT_DIR <dir>] [DESCRIPTION <file>] [SETUP_FILES <target|path>...]
#                      [FILL] [ALLOW_MISMATCH] [VERSION 2|3] [SET <n>] [DEPENDS <file|target>...]
#                      [TARGET <name>])
#
#     Publishes DESCRIPTION (default PRODUCT_DIR/product-info.xml) and its setup files (from
#     SETUP_FILES by file name, else from PRODUCT_DIR, which defaults to the description's
#     folder) into the repository folder OUTPUT. Several calls may publish into one OUTPUT.
#     Outputs: <dir>/defs/<product>/<channel>.xml.lzma and .xml; the universe objects are written
#     beside them (objects of earlier builds stay).
#
#   vyn_sfx_sign(OUTPUT <file> INPUT <target|file> KEYS <dir> KEY <key> [FORM binary|text|xml]
#                [VERSION 2|3] [SET <n>] [DEPENDS <file|target>...] [TARGET <name>])
#
#     Signs a file as 'sfxtool sign' does, for example an sfx-info.xml with FORM xml.
#
# TARGET makes a target, built by default, that depends on the outputs. Without a host sfxtool at
# configure time the commands only print a note and make nothing (configure again once the host
# configuration is built; scripts/test builds it first).
include_guard(GLOBAL)

set(VYN_SFXTOOL "" CACHE FILEPATH "sfxtool of the host build, used to sign the stub")

# A path or a target's file, and what a custom command must depend on for it.
function(_vyn_sfx_input item path_var depends_var)
  if(TARGET "${item}")
    set(${path_var} "$<TARGET_FILE:${item}>" PARENT_SCOPE)
  else()
    get_filename_component(item "${item}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    set(${path_var} "${item}" PARENT_SCOPE)
  endif()
  set(${depends_var} "${item}" PARENT_SCOPE)
endfunction()

# Signing options and the dependencies on the key folder and the tool.
function(_vyn_sfx_signing out_args out_depends keys key set version)
  if(NOT keys OR NOT key)
    message(FATAL_ERROR "sfx fixtures need KEYS and KEY")
  endif()
  get_filename_component(keys "${keys}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  set(args --keys "${keys}" --key "${key}")
  if(set)
    list(APPEND args --set "${set}")
  endif()
  if(version)
    list(APPEND args --version "${version}")
  endif()
  file(GLOB key_files CONFIGURE_DEPENDS "${keys}/keys.txt" "${keys}/*.pem" "${keys}/*.pub")
  set(${out_args} ${args} PARENT_SCOPE)
  set(${out_depends} ${key_files} "${VYN_SFXTOOL}" PARENT_SCOPE)
endfunction()

function(_vyn_sfx_command outputs comment)
  cmake_parse_arguments(C "" "" "COMMAND;DEPENDS" ${ARGN})
  if(NOT VYN_SFXTOOL OR NOT EXISTS "${VYN_SFXTOOL}")
    set(note "${comment}: not made, no host sfxtool at '${VYN_SFXTOOL}'")
    add_custom_command(OUTPUT ${outputs}
      COMMAND ${CMAKE_COMMAND} -E echo "${note} (build the host configuration, then configure again)"
      VERBATIM)
    return()
  endif()
  add_custom_command(OUTPUT ${outputs}
    COMMAND "${VYN_SFXTOOL}" ${C_COMMAND} --quiet
    DEPENDS ${C_DEPENDS}
    COMMENT "${comment}"
    VERBATIM)
endfunction()

# The stub without its debug information, made once per calling folder and stub.
function(_vyn_sfx_stripped stub_path stub_depends out_var)
  if(NOT CMAKE_STRIP)
    set(${out_var} "${stub_path}" PARENT_SCOPE)
    return()
  endif()
  string(MAKE_C_IDENTIFIER "${stub_depends}" id)
  set(stripped "${CMAKE_CURRENT_BINARY_DIR}/sfx-stubs/${id}-stripped.exe")
  get_property(made DIRECTORY PROPERTY VYN_SFX_STRIPPED)
  if(NOT stripped IN_LIST made)
    set_property(DIRECTORY APPEND PROPERTY VYN_SFX_STRIPPED "${stripped}")
    add_custom_command(OUTPUT "${stripped}"
      COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_CURRENT_BINARY_DIR}/sfx-stubs"
      COMMAND "${CMAKE_STRIP}" --strip-all -o "${stripped}" "${stub_path}"
      DEPENDS "${stub_depends}"
      COMMENT "Stripping ${stub_depends} for sfx fixtures"
      VERBATIM)
  endif()
  set(${out_var} "${stripped}" PARENT_SCOPE)
endfunction()

function(vyn_sfx_stub)
  cmake_parse_arguments(A "LZMA;ALLOW_DUPLICATES;NO_STRIP" "OUTPUT;STUB;KEYS;KEY;SET;VERSION;TIMESTAMP;TARGET"
                        "FILES;HASHED;DIRS;LISTS;DEPENDS" ${ARGN})
  if(NOT A_OUTPUT OR NOT A_STUB)
    message(FATAL_ERROR "vyn_sfx_stub needs OUTPUT and STUB")
  endif()
  get_filename_component(output "${A_OUTPUT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  _vyn_sfx_signing(args depends "${A_KEYS}" "${A_KEY}" "${A_SET}" "${A_VERSION}")
  _vyn_sfx_input("${A_STUB}" stub stub_depends)
  if(NOT A_NO_STRIP)
    _vyn_sfx_stripped("${stub}" "${stub_depends}" stub)
    set(stub_depends "${stub}")
  endif()
  list(APPEND depends ${stub_depends} ${A_DEPENDS})
  if(A_LZMA)
    list(APPEND args --lzma)
  endif()
  foreach(entry IN LISTS A_FILES)
    string(FIND "${entry}" ":" colon)
    set(alias "")
    if(colon GREATER -1)
      string(SUBSTRING "${entry}" ${colon} -1 alias)
      string(SUBSTRING "${entry}" 0 ${colon} entry)
    endif()
    _vyn_sfx_input("${entry}" path dep)
    list(APPEND args --file "${path}${alias}")
    list(APPEND depends "${dep}")
  endforeach()
  foreach(item IN LISTS A_HASHED)
    _vyn_sfx_input("${item}" path dep)
    list(APPEND args --hashed "${path}")
    list(APPEND depends "${dep}")
  endforeach()
  foreach(dir IN LISTS A_DIRS)
    get_filename_component(dir "${dir}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    file(GLOB_RECURSE dir_files CONFIGURE_DEPENDS "${dir}/*")
    list(APPEND args --dir "${dir}")
    list(APPEND depends ${dir_files})
  endforeach()
  foreach(item IN LISTS A_LISTS)
    _vyn_sfx_input("${item}" path dep)
    list(APPEND args --list "${path}")
    list(APPEND depends "${dep}")
  endforeach()
  if(A_TIMESTAMP)
    list(APPEND args --timestamp "${A_TIMESTAMP}")
  endif()
  if(A_ALLOW_DUPLICATES)
    list(APPEND args --allow-duplicates)
  endif()
  get_filename_component(name "${output}" NAME)
  _vyn_sfx_command("${output}" "Building the signed stub ${name}"
    COMMAND build ${args} "${stub}" "${output}"
    DEPENDS ${depends})
  if(A_TARGET)
    add_custom_target(${A_TARGET} ALL DEPENDS "${output}")
  endif()
endfunction()

function(vyn_sfx_repository)
  cmake_parse_arguments(A "FILL;ALLOW_MISMATCH"
                        "OUTPUT;PRODUCT;CHANNEL;KEYS;KEY;SET;VERSION;PRODUCT_DIR;DESCRIPTION;TARGET"
                        "SETUP_FILES;DEPENDS" ${ARGN})
  if(NOT A_OUTPUT OR NOT A_PRODUCT OR NOT A_CHANNEL)
    message(FATAL_ERROR "vyn_sfx_repository needs OUTPUT, PRODUCT and CHANNEL")
  endif()
  if(NOT A_PRODUCT_DIR AND NOT A_DESCRIPTION)
    message(FATAL_ERROR "vyn_sfx_repository needs PRODUCT_DIR or DESCRIPTION")
  endif()
  get_filename_component(output "${A_OUTPUT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  _vyn_sfx_signing(args depends "${A_KEYS}" "${A_KEY}" "${A_SET}" "${A_VERSION}")
  if(A_DESCRIPTION)
    get_filename_component(description "${A_DESCRIPTION}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    list(APPEND args --description "${description}")
    list(APPEND depends "${description}")
  endif()
  if(A_PRODUCT_DIR)
    get_filename_component(product_dir "${A_PRODUCT_DIR}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  else()
    get_filename_component(product_dir "${description}" DIRECTORY)
  endif()
  # The setup files are read from the product folder (unless SETUP_FILES names them elsewhere).
  file(GLOB product_files CONFIGURE_DEPENDS "${product_dir}/*")
  list(APPEND depends ${product_files})
  foreach(item IN LISTS A_SETUP_FILES)
    _vyn_sfx_input("${item}" path dep)
    list(APPEND args --setup-file "${path}")
    list(APPEND depends "${dep}")
  endforeach()
  if(A_FILL)
    list(APPEND args --fill)
  endif()
  if(A_ALLOW_MISMATCH)
    list(APPEND args --allow-mismatch)
  endif()
  list(APPEND depends ${A_DEPENDS})
  set(defs "${output}/defs/${A_PRODUCT}/${A_CHANNEL}")
  _vyn_sfx_command("${defs}.xml.lzma;${defs}.xml" "Publishing ${A_PRODUCT}/${A_CHANNEL} into ${A_OUTPUT}"
    COMMAND publish ${args} --product "${A_PRODUCT}" --channel "${A_CHANNEL}" "${product_dir}" "${output}"
    DEPENDS ${depends})
  if(A_TARGET)
    add_custom_target(${A_TARGET} ALL DEPENDS "${defs}.xml.lzma")
  endif()
endfunction()

function(vyn_sfx_sign)
  cmake_parse_arguments(A "" "OUTPUT;INPUT;KEYS;KEY;SET;VERSION;FORM;TARGET" "DEPENDS" ${ARGN})
  if(NOT A_OUTPUT OR NOT A_INPUT)
    message(FATAL_ERROR "vyn_sfx_sign needs OUTPUT and INPUT")
  endif()
  get_filename_component(output "${A_OUTPUT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  _vyn_sfx_signing(args depends "${A_KEYS}" "${A_KEY}" "${A_SET}" "${A_VERSION}")
  _vyn_sfx_input("${A_INPUT}" input input_depends)
  if(A_FORM)
    list(APPEND args --form "${A_FORM}")
  endif()
  get_filename_component(name "${output}" NAME)
  _vyn_sfx_command("${output}" "Signing ${name}"
    COMMAND sign ${args} "${input}" "${output}"
    DEPENDS ${depends} ${input_depends} ${A_DEPENDS})
  if(A_TARGET)
    add_custom_target(${A_TARGET} ALL DEPENDS "${output}")
  endif()
endfunction()

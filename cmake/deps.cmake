# Third-party code, all from Debian's packages. Each is exposed through a folder of its own so
# that the mingw build never sees the host's /usr/include.

set(VYN_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources (Debian package googletest)")
set(VYN_LZMA_SDK_DIR /usr/include/lzma CACHE PATH "LZMA SDK sources (Debian package lzma-dev)")
set(VYN_FMT_INCLUDE_DIR /usr/include CACHE PATH "Folder holding fmt/ (Debian package libfmt-dev)")
set(VYN_PUGIXML_DIR /var/cache/vyn-sfx/pugixml/pugixml-1.13 CACHE PATH "pugixml sources (Debian source package)")

set(_shim ${CMAKE_BINARY_DIR}/third_party)

# fmt, compiled once (third_party/fmt/fmt.cpp) rather than header-only, which put a copy of its
# internals into every translation unit. Nothing formats by locale, so the thousands separator is
# fixed and std::locale (with all its facets) stays out of the stub.
file(MAKE_DIRECTORY ${_shim}/fmt-include)
file(CREATE_LINK ${VYN_FMT_INCLUDE_DIR}/fmt ${_shim}/fmt-include/fmt SYMBOLIC)
add_library(vyn_fmt STATIC ${PROJECT_SOURCE_DIR}/third_party/fmt/fmt.cpp)
target_include_directories(vyn_fmt SYSTEM PUBLIC ${_shim}/fmt-include)
target_compile_definitions(vyn_fmt PUBLIC "FMT_STATIC_THOUSANDS_SEPARATOR=','")
set_target_properties(vyn_fmt PROPERTIES POSITION_INDEPENDENT_CODE ON)
if(VYN_WINDOWS)
  target_compile_options(vyn_fmt PUBLIC
    "$<$<COMPILE_LANGUAGE:CXX>:SHELL:-include ${PROJECT_SOURCE_DIR}/third_party/fmt/no_floating_point.h>")
endif()

# GoogleTest and GoogleMock, built for the configuration at hand
if(BUILD_TESTING)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(${VYN_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  include(GoogleTest)
endif()

# LZMA SDK: only its own files are exposed (the folder also holds xz's headers)
set(_lzma_inc ${_shim}/lzma-sdk)
file(MAKE_DIRECTORY ${_lzma_inc}/lzma-sdk)
foreach(h 7zVersion.h LzFind.h LzHash.h LzmaDec.h LzmaEnc.h Types.h)
  file(CREATE_LINK ${VYN_LZMA_SDK_DIR}/${h} ${_lzma_inc}/lzma-sdk/${h} SYMBOLIC)
endforeach()
# The decoder is built from a copy with our patch (third_party/lzma-sdk): branch-free decoding of
# the bits whose values are close to random, with the next probability read ahead.
set(_lzma_patch ${PROJECT_SOURCE_DIR}/third_party/lzma-sdk/lzma-dec-speed.patch)
set(_lzma_dec ${_shim}/lzma-sdk-src/LzmaDec.c)
add_custom_command(OUTPUT ${_lzma_dec}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${_shim}/lzma-sdk-src
  COMMAND ${CMAKE_COMMAND} -DSOURCE=${VYN_LZMA_SDK_DIR}/LzmaDec.c -DPATCH=${_lzma_patch}
    -DOUTPUT=${_lzma_dec} -P ${CMAKE_CURRENT_LIST_DIR}/patch_lzma_sdk.cmake
  DEPENDS ${VYN_LZMA_SDK_DIR}/LzmaDec.c ${_lzma_patch} ${CMAKE_CURRENT_LIST_DIR}/patch_lzma_sdk.cmake
  COMMENT "Patching the LZMA SDK's decoder"
  VERBATIM)
add_library(vyn_lzma_sdk STATIC ${_lzma_dec} ${VYN_LZMA_SDK_DIR}/LzmaEnc.c ${VYN_LZMA_SDK_DIR}/LzFind.c)
target_compile_definitions(vyn_lzma_sdk PUBLIC _7ZIP_ST)
target_include_directories(vyn_lzma_sdk SYSTEM PUBLIC ${_lzma_inc})
target_include_directories(vyn_lzma_sdk PRIVATE ${_lzma_inc}/lzma-sdk)
target_compile_options(vyn_lzma_sdk PRIVATE -w)
set_target_properties(vyn_lzma_sdk PROPERTIES POSITION_INDEPENDENT_CODE ON)

# The SDK's decoder exactly as Debian ships it, under names of its own (reference_LzmaDec_*), for
# the tests and the fuzzer that hold the patched decoder against it.
add_library(vyn_lzma_sdk_reference STATIC EXCLUDE_FROM_ALL
  ${PROJECT_SOURCE_DIR}/third_party/lzma-sdk/reference_lzma_dec.c)
target_compile_definitions(vyn_lzma_sdk_reference PUBLIC _7ZIP_ST)
target_include_directories(vyn_lzma_sdk_reference PRIVATE ${VYN_LZMA_SDK_DIR})
target_include_directories(vyn_lzma_sdk_reference SYSTEM PUBLIC ${_lzma_inc}
  ${PROJECT_SOURCE_DIR}/third_party/lzma-sdk)
target_compile_options(vyn_lzma_sdk_reference PRIVATE -w)
set_target_properties(vyn_lzma_sdk_reference PROPERTIES POSITION_INDEPENDENT_CODE ON)

# pugixml, wide-character build
if(EXISTS ${VYN_PUGIXML_DIR}/src/pugixml.cpp)
  add_library(vyn_pugixml STATIC ${VYN_PUGIXML_DIR}/src/pugixml.cpp)
  target_include_directories(vyn_pugixml SYSTEM PUBLIC ${VYN_PUGIXML_DIR}/src)
  # Without pugixml's std::string and iostream interface, which drags in the C++ streams and
  # locales; documents are read from buffers and written to files or through xml_writer.
  target_compile_definitions(vyn_pugixml PUBLIC PUGIXML_WCHAR_MODE PUGIXML_NO_STL)
  if(VYN_WINDOWS)
    # The stub finds its elements by plain child paths (src/setup/xml_paths.h); only the maker's
    # tool, a host program, queries with XPath.
    target_compile_definitions(vyn_pugixml PUBLIC PUGIXML_NO_XPATH)
  endif()
else()
  message(FATAL_ERROR "pugixml sources not found in ${VYN_PUGIXML_DIR}; run scripts/setup")
endif()

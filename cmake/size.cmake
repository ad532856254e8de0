# Size of the shipped stub, which users download before anything else happens.
#
# Windows builds: every function and object in a section of its own, and the linker drops those no
# one references. Optimised configurations compile for size, except the hot loops, which keep
# -O2: SHA-256, LZMA decoding and the big-number arithmetic of the signature checks
# (vyn_hot_sources below). The linker map of vyn-sfx.exe lets bench/size say which libraries and
# objects take the stub's bytes.
#
# Included before the targets are made; vyn_size_settings() is called once they all exist.

set(_optimised "$<CONFIG:Release,RelWithDebInfo,MinSizeRel>")
if(VYN_WINDOWS)
  add_compile_options(-ffunction-sections -fdata-sections "$<${_optimised}:-Os>")
  add_link_options(-Wl,--gc-sections)
endif()

# vyn_hot_sources(<source folder> <file>...): these files keep -O2 in optimised configurations.
function(vyn_hot_sources dir)
  list(TRANSFORM ARGN PREPEND ${dir}/ OUTPUT_VARIABLE files)
  set_property(SOURCE ${files} DIRECTORY ${dir} APPEND PROPERTY COMPILE_OPTIONS
    "$<${_optimised}:-O2>")
endfunction()

function(vyn_size_settings)
  if(NOT VYN_WINDOWS)
    return()
  endif()

  vyn_hot_sources(${PROJECT_SOURCE_DIR}/src/foundation sha256.cpp sha256_hardware.cpp)
  vyn_hot_sources(${PROJECT_SOURCE_DIR}/src/payload
    lzma_codec.cpp lzma_encoder.cpp lzma_packer.cpp
    bigint.cpp bigint_montgomery.cpp bigint_vector.cpp dsa_verify.cpp
    ecc_p256.cpp ecc_p256_mult.cpp ecc_ecdsa.cpp)
  # The LZMA SDK, which the stub uses only for decoding.
  target_compile_options(vyn_lzma_sdk PRIVATE "$<${_optimised}:-O2>")

  if(TARGET vyn-sfx)
    # The stub never compresses: its own definitions of the LZMA encoder's members come before
    # the libraries, so the linker takes neither lzma_encoder.cpp nor the library's encoder.
    target_sources(vyn-sfx PRIVATE ${PROJECT_SOURCE_DIR}/src/app/terminate_handler.cpp
      ${PROJECT_SOURCE_DIR}/src/payload/lzma_encoder_absent.cpp)
    target_link_options(vyn-sfx PRIVATE "-Wl,-Map=$<TARGET_FILE_DIR:vyn-sfx>/vyn-sfx.map")
  endif()
endfunction()

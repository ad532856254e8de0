# Signature block location and checks, and a differential check of the big-integer and P-256
# arithmetic; run with fuzz/run-signature.
vyn_fuzz_target(fuzz_signature_check vyn_payload)

# Writes starting inputs (signed PE images, XML and text blocks, key and arithmetic cases).
add_executable(fuzz_signature_seeds fuzz_signature_seeds.cpp)
target_link_libraries(fuzz_signature_seeds PRIVATE vyn_options vyn_signature_testing)
target_link_options(fuzz_signature_seeds PRIVATE -fsanitize=fuzzer-no-link)

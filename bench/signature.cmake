# Speed of one DSA and one ECDSA signature check and of the worst case of key set 8 (host and
# Windows); run them with bench/signature.
add_executable(bench_signature_verify ${CMAKE_CURRENT_LIST_DIR}/bench_signature_verify.cpp)
target_link_libraries(bench_signature_verify PRIVATE vyn_options vyn_signature_testing)
set_target_properties(bench_signature_verify PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)

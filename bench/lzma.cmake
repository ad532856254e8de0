# LZMA decoding speed (host and Windows) and peak memory of unpacking into a file (Windows); run
# them with bench/lzma.
add_executable(bench_lzma_decode ${CMAKE_CURRENT_LIST_DIR}/bench_lzma_decode.cpp)
target_link_libraries(bench_lzma_decode PRIVATE vyn_options vyn_payload)
set_target_properties(bench_lzma_decode PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)

if(VYN_WINDOWS)
  add_executable(bench_lzma_unpack_memory ${CMAKE_CURRENT_LIST_DIR}/bench_lzma_unpack_memory.cpp)
  target_link_libraries(bench_lzma_unpack_memory PRIVATE vyn_options vyn_payload)
  target_link_options(bench_lzma_unpack_memory PRIVATE -municode)
  set_target_properties(bench_lzma_unpack_memory PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endif()

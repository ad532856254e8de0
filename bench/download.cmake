# One download through our transport into a file (Windows); run it with bench/download.
if(VYN_WINDOWS)
  add_executable(bench_download ${CMAKE_CURRENT_LIST_DIR}/bench_download.cpp)
  target_link_libraries(bench_download PRIVATE vyn_options vyn_net)
  target_link_options(bench_download PRIVATE -municode)
  set_target_properties(bench_download PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endif()

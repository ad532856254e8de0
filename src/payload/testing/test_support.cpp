#include "payload/testing/test_support.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "foundation/logger.h"

namespace vyn::sfx::testing {

temp_folder::temp_folder() {
  static std::atomic<unsigned> serial{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  path_ = std::filesystem::temp_directory_path() /
          ("vyn-payload-" + std::to_string(stamp) + "-" + std::to_string(serial++));
  std::filesystem::create_directories(path_);
}

temp_folder::~temp_folder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

log_capture::log_capture() {
#ifdef _WIN32
  file_ = _wfopen((folder_.path() / L"log.txt").c_str(), L"w+b");
#else
  file_ = std::fopen((folder_.path() / "log.txt").c_str(), "w+b");
#endif
  if (!file_) throw std::runtime_error("cannot open the log capture file");
  log::acquire_logger()->set_stream(file_, 0);
}

log_capture::~log_capture() {
  log::acquire_logger()->set_stream(nullptr, 9);
  std::fclose(file_);
}

std::string log_capture::text() const {
  std::fflush(file_);
  return read_file(folder_.path() / L"log.txt");
}

int log_capture::count(const std::string& needle) const {
  std::istringstream lines(text());
  int found = 0;
  for (std::string line; std::getline(lines, line);) found += line.find(needle) != std::string::npos;
  return found;
}

std::filesystem::path fixture(const std::wstring& name) {
  const char* build = std::getenv("VYN_BUILD_DIR");
  if (!build) throw std::runtime_error("VYN_BUILD_DIR is not set");
  std::string folder = build;
#ifdef _WIN32
  if (!folder.empty() && folder[0] == '/') folder = "Z:" + folder;  // the host's root under Wine
#endif
  return std::filesystem::path(folder) / L"payload-fixtures" / name;
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace vyn::sfx::testing

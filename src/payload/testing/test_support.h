#pragma once
// Helpers of the payload tests: a private temporary folder per fixture and a capture of the log
// lines written while it lives.

#include <cstdio>
#include <filesystem>
#include <string>

namespace vyn::sfx::testing {

// A fresh folder under the system's temporary folder, removed with everything in it.
class temp_folder {
 public:
  temp_folder();
  ~temp_folder();
  temp_folder(const temp_folder&) = delete;
  temp_folder& operator=(const temp_folder&) = delete;

  const std::filesystem::path& path() const noexcept { return path_; }
  std::filesystem::path operator/(const std::wstring& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Routes every log line of every level to a file while it lives; text() returns what was logged.
class log_capture {
 public:
  log_capture();
  ~log_capture();
  log_capture(const log_capture&) = delete;
  log_capture& operator=(const log_capture&) = delete;

  std::string text() const;
  // Number of lines containing needle.
  int count(const std::string& needle) const;

 private:
  temp_folder folder_;
  std::FILE* file_ = nullptr;
};

// A file made at build time in the build folder's "payload-fixtures" (from the environment
// variable VYN_BUILD_DIR, which the test runner sets).
std::filesystem::path fixture(const std::wstring& name);

std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const std::string& bytes);

}  // namespace vyn::sfx::testing

#pragma once
// Helpers of the tool's tests: a private temporary folder per test, file access, and running
// programs (sfxtool itself, openssl, osslsigncode) with their exit code and output.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace vyn::tool::test {

struct run_result {
  int code = -1;
  std::string output;  // stdout and stderr
};

// Runs a shell command line; arguments must be quoted by the caller (see quote()).
inline run_result run(const std::string& command) {
  run_result result;
  std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return result;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
  const int status = ::pclose(pipe);
  result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

inline std::string quote(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

inline std::string sfxtool() { return quote(VYN_SFXTOOL_PATH); }
inline std::filesystem::path key_dir() { return VYN_TEST_KEY_DIR; }

inline std::vector<std::uint8_t> read_bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_bytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& data) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

inline void write_text(const std::filesystem::path& path, const std::string& text) {
  write_bytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

class temp_dir_test : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "vyn-sfxtool-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::filesystem::path path(const std::string& name) const { return dir_ / name; }

  std::filesystem::path dir_;
};

}  // namespace vyn::tool::test

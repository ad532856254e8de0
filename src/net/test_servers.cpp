#include "net/test_servers.h"

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <fmt/format.h>

#include "foundation/strings.h"

namespace vyn::http::testing {
namespace {

std::wstring linux_to_windows(const std::string& path) {
  std::wstring wide = L"Z:" + utils::to_wide(path);
  for (wchar_t& c : wide) {
    if (c == L'/') c = L'\\';
  }
  return wide;
}

std::string read_whole(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  if (!in) return {};
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

}  // namespace

test_servers::test_servers() {
  const char* build = std::getenv("VYN_BUILD_DIR");
  if (!build) throw std::runtime_error("VYN_BUILD_DIR is not set");
  const std::string env_path = std::string(build) + "/net-servers/servers.env";
  const std::string text = read_whole(linux_to_windows(env_path));
  if (text.empty()) {
    throw std::runtime_error("no test servers: run 'tests/net/servers start " + std::string(build) + "/net-servers'");
  }
  for (const std::string& line : lines_of(text)) {
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos) values_[line.substr(0, equals)] = line.substr(equals + 1);
  }
  state_ = value("STATE_DIR");
}

const std::string& test_servers::value(const std::string& name) const {
  const auto found = values_.find(name);
  if (found == values_.end()) throw std::runtime_error("servers.env has no " + name);
  return found->second;
}

std::uint16_t test_servers::port(const std::string& name) const {
  return static_cast<std::uint16_t>(std::stoul(value(name)));
}

std::wstring test_servers::windows_path(const std::string& relative) const {
  return linux_to_windows(state_ + "/" + relative);
}

url_parts test_servers::scripted(const char* scheme, const std::string& port_name, const std::string& id,
                                 std::uint32_t size, const std::string& plan) const {
  return {scheme, "localhost", port(port_name), "/t/" + id + "/object", fmt::format("size={}&plan={}", size, plan)};
}

url_parts test_servers::served(const char* scheme, const std::string& port_name, const std::string& object,
                               const std::string& id) const {
  return {scheme, "localhost", port(port_name), "/" + object, "id=" + id};
}

std::vector<std::string> test_servers::requests(const std::string& id) const {
  return lines_of(read("requests/" + id));
}

std::vector<std::string> test_servers::log_lines(const std::string& relative, const std::string& needle,
                                                 std::size_t at_least) const {
  std::vector<std::string> found;
  for (int polls = 0; polls < 30; ++polls) {
    found.clear();
    for (const std::string& line : lines_of(read(relative))) {
      if (line.find(needle) != std::string::npos) found.push_back(line);
    }
    if (found.size() >= at_least) break;
    ::Sleep(100);
  }
  return found;
}

std::string test_servers::read(const std::string& relative) const { return read_whole(windows_path(relative)); }

std::vector<std::uint8_t> scripted_body(std::uint32_t start, std::uint32_t end) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(end - start);
  for (std::uint32_t i = start; i < end; ++i) bytes.push_back(static_cast<std::uint8_t>((i * 131 + (i >> 9)) & 0xFF));
  return bytes;
}

std::string unique_id(const std::string& stem) {
  static std::atomic<unsigned> counter{0};
  return fmt::format("{}-{}-{}", stem, ::GetCurrentProcessId(), counter++);
}

std::vector<std::uint8_t> utf16(std::string_view text, bool big_endian) {
  std::vector<std::uint8_t> bytes = big_endian ? std::vector<std::uint8_t>{0xFE, 0xFF}
                                               : std::vector<std::uint8_t>{0xFF, 0xFE};
  for (const char c : text) {
    bytes.push_back(big_endian ? 0 : static_cast<std::uint8_t>(c));
    bytes.push_back(big_endian ? static_cast<std::uint8_t>(c) : 0);
  }
  return bytes;
}

namespace {
constexpr const wchar_t* connections_key = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
constexpr const wchar_t* connection_value = L"DefaultConnectionSettings";
}  // namespace

scoped_ie_connection_settings::scoped_ie_connection_settings(const std::string& proxy_list) {
  HKEY key = nullptr;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, connections_key, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
    throw std::runtime_error("cannot open the Internet Explorer connection settings");
  }
  key_ = key;
  DWORD size = 0;
  if (::RegQueryValueExW(key, connection_value, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
    saved_.emplace(size);
    ::RegQueryValueExW(key, connection_value, nullptr, nullptr, saved_->data(), &size);
  }
  // Version 0x46, a counter, the flags (2: a proxy is set), then the proxy list, the bypass list
  // and the script address, each as a length and ANSI characters.
  std::vector<std::uint8_t> blob;
  const auto dword = [&blob](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) blob.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  dword(0x46);
  dword(0);
  dword(2);
  dword(static_cast<std::uint32_t>(proxy_list.size()));
  blob.insert(blob.end(), proxy_list.begin(), proxy_list.end());
  dword(0);
  dword(0);
  ::RegSetValueExW(key, connection_value, 0, REG_BINARY, blob.data(), static_cast<DWORD>(blob.size()));
}

scoped_ie_connection_settings::~scoped_ie_connection_settings() {
  const HKEY key = static_cast<HKEY>(key_);
  if (saved_) {
    ::RegSetValueExW(key, connection_value, 0, REG_BINARY, saved_->data(), static_cast<DWORD>(saved_->size()));
  } else {
    ::RegDeleteValueW(key, connection_value);
  }
  ::RegCloseKey(key);
}

}  // namespace vyn::http::testing

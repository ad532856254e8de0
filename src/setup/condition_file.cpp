#include "setup/condition_file.h"

#include <windows.h>

#include <fmt/format.h>

#include "foundation/exceptions.h"
#include "foundation/files.h"
#include "foundation/handle.h"
#include "foundation/log.h"
#include "foundation/strings.h"
#include "setup/condition_values.h"

namespace vyn::repository::conditions {
namespace {

// ERROR_NO_SUCH_DEVICE (433); mingw's headers lack the name.
constexpr DWORD error_no_such_device = 433;

// A device (or any other object the file system can name) exists when it can be opened for
// synchronisation alone, which needs no access to its data and follows no reparse point.
bool device_exists(const std::wstring& path) {
  const win::unique_handle handle(::CreateFileW(
      path.c_str(), SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (handle) return true;
  const DWORD code = ::GetLastError();
  if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND || code == error_no_such_device) return false;
  const std::string message = fmt::format("Unable to query file object '{}'!", utils::to_log(path));
  VYN_LOG_ERROR("{} error {}", message, code);
  throw exceptions::error(code, message);
}

}  // namespace

void condition_file::build(const pugi::xml_node& node, const basic_context&) {
  name_ = std::wstring(node.name());
  path_ = read_string(node, L"path");
  type_ = read_string(node, L"type");
  if (!type_) type_ = L"file";
  exists_ = read_bool(node, L"exists");
  empty_ = read_bool(node, L"empty");
}

void condition_file::write(pugi::xml_node& node) const {
  node.set_name(name_.value_or(L"").c_str());
  write_string(node, L"path", path_);
  write_string(node, L"type", type_);
  write_bool(node, L"exists", exists_);
  write_bool(node, L"empty", empty_);
}

bool condition_file::evaluate(const basic_context& context) const {
  require(path_ && !path_->empty(), "m_path && !m_path->empty()");
  require(exists_ || empty_, "m_exists || m_empty");
  require(!empty_ || type_ == L"file", "!m_empty || m_type == L\"file\"");
  const std::wstring path = context.expander().expand(*path_);
  return test_exists(path) && test_empty(path);
}

bool condition_file::object_exists(const std::wstring& path) const {
  const std::wstring& type = type_.value();
  if (utils::iequals(type, L"file")) return files::file_exists(path);
  if (!utils::iequals(type, L"device")) return false;
  try {
    return device_exists(path);
  } catch (const exceptions::error& e) {
    VYN_LOG_WARNING("Exception in 'exists' condition {} ({})", utils::to_log(path), e.what());
    return false;
  }
}

bool condition_file::test_exists(const std::wstring& path) const {
  if (!exists_) return true;
  const bool found = object_exists(path);
  VYN_LOG_DEBUG("{}: The {} '[{}]{{{}}}' {}.", "file", utils::to_log(type_.value_or(L"")),
                utils::to_log(path_.value_or(L"")), utils::to_log(path), found ? "exists" : "does not exist");
  return found == *exists_;
}

bool condition_file::test_empty(const std::wstring& path) const {
  if (!empty_) return true;
  const bool is_empty = files::file_size(path) == 0;
  VYN_LOG_DEBUG("{}: The file '{}' is{} empty.", "file", utils::to_log(path), is_empty ? "" : " not");
  return is_empty == *empty_;
}

}  // namespace vyn::repository::conditions

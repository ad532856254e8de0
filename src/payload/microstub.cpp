#include "payload/sfx_edat.h"

#include <string>
#include <vector>

#include "foundation/directories.h"
#include "foundation/exceptions.h"
#include "foundation/files.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/processes.h"
#include "foundation/strings.h"

namespace vyn::sfx {
namespace {

using utils::to_log;

constexpr wchar_t edat_dir_parameter[] = L"edat_dir";
constexpr wchar_t cookie_file[] = L"ecoo.edat";
constexpr std::wstring_view edat_extension = L".edat";

bool is_edat_name(std::wstring_view name) {
  return name.size() > edat_extension.size() &&
         utils::iequals(name.substr(name.size() - edat_extension.size()), edat_extension);
}

// The ".edat" files of the folder itself (no sub-folders); none when it cannot be listed.
std::vector<std::wstring> edat_files(const std::wstring& folder) {
  std::vector<std::wstring> names;
  try {
    files::enumerate_directory(folder, [&](const files::directory_entry& entry) {
      if (!entry.is_directory && is_edat_name(entry.name)) names.push_back(entry.name);
      return true;
    });
  } catch (const vyn::exceptions::detail::base&) {
    names.clear();
  }
  return names;
}

}  // namespace

bool microstub::verify() {
  if (!context_.cmd.has(edat_dir_parameter)) return false;
  try {
    const std::wstring parent = parent_image_path();
    const auto verifier = create_verify_signature();
    {
      // The path names the executable as the system sees it; a 32-bit stub must not be redirected
      // to another file of the same name.
      const files::fs_redirection_auto native_view;
      verified_ = verifier && verifier->verify_file_ext(parent);
    }
    VYN_LOG_INFO("DSA for microstub verified with result '{}'", verified_ ? "true" : "false");
    return verified_;
  } catch (const vyn::exceptions::detail::base& e) {
    VYN_LOG_EXC(log::level::info, e, "The launching stub could not be checked.");
    return false;
  }
}

std::wstring microstub::cookie() {
  const auto folder = context_.cmd.find(edat_dir_parameter);
  if (!folder) return {};
  if (!verified_) {
    VYN_LOG_INFO("Microstub not verified, skip get cookie");
    return {};
  }
  try {
    if (folder->empty() || !files::directory_exists(*folder)) return {};
    const std::wstring path = *folder + cookie_file;
    if (!files::file_exists(path)) return {};
    const std::vector<std::uint8_t> bytes = files::get_file_content(path);
    return utils::to_wide(std::string(bytes.begin(), bytes.end()));
  } catch (const vyn::exceptions::detail::base&) {
    return {};
  }
}

void microstub::copy_edat_files() {
  const auto folder = context_.cmd.find(edat_dir_parameter);
  if (!folder) return;
  if (!verified_) {
    VYN_LOG_INFO("Microstub not verified, skip copy edat files");
    return;
  }
  try {
    const std::wstring temp = context_.values->get(L"tmp-path", L"");
    if (temp.empty()) return;  // the files would land in the root of the current drive
    for (const std::wstring& name : edat_files(*folder)) {
      const std::wstring source = files::join_path(*folder, name);
      const std::wstring destination = files::join_path(temp, name);
      try {
        files::copy_file(source, destination);
      } catch (const vyn::exceptions::detail::base& e) {
        VYN_LOG_ERROR("Copy edat file '{}'->'{}' fail {}", to_log(source), to_log(destination), e.code());
      }
    }
  } catch (const vyn::exceptions::detail::base& e) {
    VYN_LOG_EXC(log::level::error, e, "Copy microstub edat file fail.");
  }
}

std::shared_ptr<verify_signature_intf> microstub::create_verify_signature() {
  return std::make_shared<verify_signature>();
}

std::wstring microstub::parent_image_path() { return os::parent_process_image_path(); }

}  // namespace vyn::sfx

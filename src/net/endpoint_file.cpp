#include "net/endpoint_file.h"

#include "foundation/exceptions.h"
#include "foundation/log.h"
#include "foundation/strings.h"
#include "net/ini_file.h"

namespace vyn::mi {
namespace {

constexpr std::wstring_view section = L"MID";

std::wstring folder_of(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

// The file's document, or an empty one when the file is missing or cannot be read.
utils::ini_file original_document(files::CFilesWrapper& files, const std::wstring& path) {
  try {
    if (files.file_exists(path)) return utils::ini_file::parse(files.get_file_content(path));
  } catch (const exceptions::detail::base& e) {
    VYN_LOG_EXC(log::level::warning, e, "Failed to read original content of {}", utils::to_log(path));
  }
  return {};
}

}  // namespace

std::wstring endpoint_file_path(files::CFilesWrapper& files) {
  return files.known_folder_path(files::known_folder::common_app_data) +
         L"\\Halvard\\{086A63F0-6B13-4F29-9695-134E7A01E963}\\LC.INI";
}

std::wstring read_endpoint_file(files::CFilesWrapper& files, const std::wstring& path) {
  try {
    if (!files.file_exists(path)) return {};
    return utils::ini_file::parse(files.get_file_content(path)).get(section, L"Value", L"");
  } catch (const exceptions::detail::base& e) {
    VYN_LOG_EXC(log::level::warning, e, "Failed to read endpoint id from {}", utils::to_log(path));
    return {};
  }
}

void write_endpoint_file(files::CFilesWrapper& files, const std::wstring& path, std::wstring_view id) {
  utils::ini_file document = original_document(files, path);
  document.set(section, L"Value", id);
  document.set(section, L"XRef", L"Adapters|MID");
  std::vector<std::uint8_t> text;
  try {
    text = document.render(utils::text_encoding::utf8);
  } catch (const exceptions::detail::base& e) {
    VYN_LOG_EXC(log::level::error, e, "Failed to store ini file to memory");
    VYN_LOG_ERROR("Failed to store endpoint id to {}", utils::to_log(path));
    return;
  }
  try {
    files.create_directory(folder_of(path), nullptr);
    files.set_file_content(path, text, true);
  } catch (const exceptions::detail::base& e) {
    VYN_LOG_EXC(log::level::error, e, "Failed to store endpoint id to {}", utils::to_log(path));
  }
}

}  // namespace vyn::mi

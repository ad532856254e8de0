#include "payload/payload.h"

#include <fmt/format.h>
#include <pugixml.hpp>

#include "foundation/directories.h"
#include "foundation/exceptions.h"
#include "foundation/file_digest.h"
#include "foundation/log.h"
#include "foundation/strings.h"
#include "payload/file_io.h"
#include "payload/lzma_packer.h"
#include "setup/kestro_info_intf.h"

namespace vyn::sfx {
namespace {

using vyn::exceptions::error;

constexpr std::uint32_t reader_stored = 0;
constexpr std::uint32_t reader_lzma = 1;

std::shared_ptr<win::unique_handle> open_stub(const std::wstring& path) {
  win::unique_handle file;
  DWORD code = ERROR_SUCCESS;
  {
    const files::fs_redirection_auto redirection_off;
    file = open_stub_file(path);
    if (!file) code = ::GetLastError();
  }
  if (!file) {
    VYN_LOG_ERROR("Payload: Failed to open sfx file '{}', {}", utils::to_log(path), code);
    throw error(code, "Failed to open sfx file.");
  }
  return std::make_shared<win::unique_handle>(std::move(file));
}

void add_text_child(pugi::xml_node parent, const wchar_t* name, const std::wstring& text) {
  parent.append_child(name).text().set(text.c_str());
}

template <class T>
std::wstring decimal(T value) {
  return utils::to_wide(fmt::format("{}", value));
}

void append_file_element(pugi::xml_node list, const payload_record& record) {
  auto file = list.append_child(L"file");
  add_text_child(file, L"alias", record.alias);
  add_text_child(file, L"sha-256", record.sha256);
  add_text_child(file, L"offset", decimal(record.data_offset));
  add_text_child(file, L"size", decimal(record.size));
  add_text_child(file, L"timestamp", decimal(record.timestamp));
  add_text_child(file, L"flags", decimal(record.flags));
}

}  // namespace

win::unique_handle open_stub_file(const std::wstring& path) {
  SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
  return win::unique_handle(::CreateFileW(path.c_str(), FILE_READ_DATA, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                          &inheritable, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

payload::payload(std::shared_ptr<win::unique_handle> stub_file, shared_context& context)
    : file_(std::move(stub_file)), mapping_(std::make_shared<files::file_mapping>(file_->get(), true)) {
  index(context);
  publish_file_mapping(context);
}

payload::payload(const std::wstring& stub_path, shared_context& context) : payload(open_stub(stub_path), context) {}

void payload::index(shared_context& context) {
  const auto enumerator = create_payload_enumerator(mapping_);
  pugi::xml_document document;
  auto list = document.append_child(L"file-list");
  for (bool more = enumerator->first(); more; more = enumerator->next()) {
    const payload_record record = *enumerator->current();
    append_file_element(list, record);
    if (!record.alias.empty()) {
      if (!by_alias_.insert_or_assign(record.alias, record).second) {
        VYN_LOG_INFO("file alias = '{}' packed in payload twice, overriding", utils::to_log(record.alias));
      }
    } else if (!by_hash_.insert_or_assign(record.sha256, record).second) {
      VYN_LOG_INFO("file sha-256 = '{}' packed in payload twice, overriding", utils::to_log(record.sha256));
    }
  }
  if (context.info) context.info->append_copy(list);
}

void payload::publish_file_mapping(shared_context& context) {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file_->get(), &size)) {
    VYN_LOG_WARNING("Get file size of SFX fail {}", ::GetLastError());
    size.QuadPart = 0;
  }
  pugi::xml_document document;
  auto element = document.append_child(L"file-mapping-sfx");
  add_text_child(element, L"handle",
                 utils::to_wide(fmt::format("{:x}", reinterpret_cast<std::uintptr_t>(file_->get()))));
  add_text_child(element, L"size", decimal(static_cast<std::int64_t>(size.QuadPart)));
  if (context.info) context.info->append_copy(element);
}

std::shared_ptr<unpacker_intf> payload::find_by_hash(const std::wstring& sha256) {
  const auto found = by_hash_.find(sha256);
  return found == by_hash_.end() ? nullptr : create_unpacker(mapping_, found->second);
}

std::shared_ptr<unpacker_intf> payload::find_by_alias(const std::wstring& alias) {
  const auto found = by_alias_.find(alias);
  return found == by_alias_.end() ? nullptr : create_unpacker(mapping_, found->second);
}

std::vector<std::wstring> payload::aliases() {
  std::vector<std::wstring> names;
  names.reserve(by_alias_.size());
  for (const auto& entry : by_alias_) names.push_back(entry.first);
  return names;
}

std::optional<std::wstring> payload::text_by_alias(const std::wstring& alias) {
  const auto found = find_by_alias(alias);
  if (!found) return std::nullopt;
  const std::vector<std::uint8_t> bytes = found->unpack();
  return utils::to_wide(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::unique_ptr<payload_enumerator_intf> payload::create_payload_enumerator(
    std::shared_ptr<files::file_mapping> mapping) {
  return std::make_unique<payload_enumerator>(std::move(mapping));
}

std::shared_ptr<unpacker_intf> payload::create_unpacker(std::shared_ptr<files::file_mapping> mapping,
                                                        const payload_record& record) {
  return std::make_shared<unpacker>(std::move(mapping), record);
}

unpacker::unpacker(std::shared_ptr<files::file_mapping> mapping, const payload_record& record)
    : mapping_(std::move(mapping)),
      reader_(record.flags),
      size_(record.size),
      timestamp_(record.timestamp),
      data_offset_(record.data_offset),
      sha256_(record.sha256),
      alias_(record.alias) {}

std::span<const std::uint8_t> unpacker::stored_bytes() const {
  return mapping_->view().range(data_offset_, size_);
}

void unpacker::unsupported_reader() const {
  throw error(13u, fmt::format("Unsupported data reader ({})", reader_));
}

void unpacker::verify(const root::digest& actual) const {
  if (root::digest(sha256_) == actual) return;
  const std::string text = fmt::format("Fail unpack data, wrong checksum (alias:{}, hash:{})!",
                                       utils::to_log(alias_), utils::to_log(sha256_));
  VYN_LOG_ERROR("{}", text);
  throw error(13u, text);
}

std::vector<std::uint8_t> unpacker::unpack() {
  const auto stored = stored_bytes();
  std::vector<std::uint8_t> bytes;
  if (reader_ == reader_stored) {
    bytes.assign(stored.begin(), stored.end());
  } else if (reader_ == reader_lzma) {
    bytes = packers::lzma_packer().decompress(stored);
  } else {
    unsupported_reader();
  }
  if (!sha256_.empty()) {
    root::sha256 hash;
    verify(root::digest_of(hash, bytes));
  }
  return bytes;
}

// The file is created with delete access so that it can be marked for deletion on close when
// anything fails: no partial or unverified file is ever left at the destination.
void unpacker::unpack_to_file(const std::wstring& path) {
  win::unique_handle file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                                        nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    throw error(::GetLastError(), fmt::format("Unable to create file '{}'!", utils::to_log(path)));
  }
  try {
    const auto stored = stored_bytes();
    if (reader_ == reader_stored) {
      file_io::write_all(file.get(), stored, "set_file_content");
      if (!::SetEndOfFile(file.get())) throw error(::GetLastError(), "set_file_content");
    } else if (reader_ == reader_lzma) {
      packers::lzma_packer().decompress(stored, file.get());
    } else {
      unsupported_reader();
    }
    if (!sha256_.empty()) {
      root::sha256 hash;
      verify(root::digest_of_file(hash, file.get()));
    }
  } catch (...) {
    FILE_DISPOSITION_INFO dispose{TRUE};
    if (!::SetFileInformationByHandle(file.get(), FileDispositionInfo, &dispose, sizeof(dispose))) {
      VYN_LOG_ERROR("Unable to mark '{}' for deletion, {}", utils::to_log(path), ::GetLastError());
    }
    throw;
  }
}

}  // namespace vyn::sfx

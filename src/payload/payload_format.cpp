#include "payload/payload_format.h"

#include <algorithm>
#include <string_view>

#include "foundation/exceptions.h"
#include "foundation/log.h"
#include "foundation/strings.h"

namespace vyn::sfx {
namespace {

using sfx::exceptions::invalid_payload;
using sfx::exceptions::unsupported_file_format;

constexpr std::uint64_t nt_headers32_size = 248;
constexpr std::uint64_t section_header_size = 40;

std::wstring hex_text(std::span<const std::uint8_t> bytes) {
  constexpr wchar_t digits[] = L"0123456789abcdef";
  std::wstring text;
  text.reserve(bytes.size() * 2);
  for (const std::uint8_t b : bytes) {
    text += digits[b >> 4];
    text += digits[b & 0xF];
  }
  return text;
}

std::uint64_t nt_headers_offset(const utils::byte_view& image) {
  const std::uint64_t offset = image.read_le<std::uint32_t>(0x3C);
  if (offset > image.size() || image.size() - offset < nt_headers32_size) {
    throw vyn::exceptions::error(5u, "Unable to read outside of the mapped view!");
  }
  return offset;
}

}  // namespace

std::uint64_t payload_start_of(const utils::byte_view& image, std::uint16_t image_magic) {
  const auto dos = image.range(0, 64);
  if (dos[0] != 'M' || dos[1] != 'Z') {
    VYN_LOG_ERROR("File is not PE.");
    throw unsupported_file_format("Missing DOS signature.");
  }
  const std::uint64_t nt = nt_headers_offset(image);
  const auto signature = image.range(nt, 4);
  if (signature[0] != 'P' || signature[1] != 'E' || signature[2] != 0 || signature[3] != 0) {
    VYN_LOG_ERROR("File is missing NT signature");
    throw unsupported_file_format("Missing NT signature.");
  }
  if (image.read_le<std::uint16_t>(nt + 24) != image_magic) {
    VYN_LOG_ERROR("File is not supported-bit executable.");
    throw unsupported_file_format("Exe file is not supported-bit.");
  }
  const std::uint16_t sections = image.read_le<std::uint16_t>(nt + 6);
  const std::uint64_t table = nt + 24 + image.read_le<std::uint16_t>(nt + 20);
  std::uint64_t start = 0;
  for (std::uint64_t i = 0; i < sections; ++i) {
    const utils::byte_view header(image.range(table + i * section_header_size, section_header_size));
    const std::uint64_t end = std::uint64_t{header.read_le<std::uint32_t>(20)} +
                              header.read_le<std::uint32_t>(16);
    start = std::max(start, end);
  }
  return start;
}

void check_payload_start(std::uint64_t payload_start, std::uint64_t file_size) {
  if (payload_start > file_size) {
    VYN_LOG_ERROR("Payload starts behind file end. File is invalid.");
    throw unsupported_file_format("Payload starts behind file end.");
  }
}

bool record_walker::first() {
  current_.reset();
  if (payload_start_ == file_.size()) {
    VYN_LOG_INFO("No payload present in file.");
    return false;
  }
  return read_at(payload_start_);
}

bool record_walker::next() {
  if (!current_) return false;
  return read_at(next_pos_);
}

bool record_walker::read_at(std::uint64_t pos) {
  const std::uint8_t version = file_.range(pos, 1)[0];
  if (version != record_version) {
    VYN_LOG_ERROR("Version {} is not supported!", version);
    throw invalid_payload("Header version is not supported");
  }
  bool is_end = false;
  payload_record record = parse_header(pos, is_end);
  if (is_end) {
    current_.reset();
    return false;
  }
  VYN_LOG_DEBUG("Data file sha='{}', alias='{}', found in payload.", utils::to_log(record.sha256),
                utils::to_log(record.alias));
  next_pos_ = std::uint64_t{record.data_offset} + record.size;
  current_ = std::move(record);
  return true;
}

// Every failure while reading the fields behind the version byte, an out-of-range read included,
// becomes one invalid-payload error naming the field that failed.
payload_record record_walker::parse_header(std::uint64_t pos, bool& is_end) const {
  int step = 0;
  try {
    payload_record record;
    const auto magic = file_.range(pos + 1, 3);
    if (magic[0] != 'A' || magic[1] != 'P' || magic[2] != 'E') {
      VYN_LOG_ERROR("Invalid payload, '{:c}{:c}{:c}' expected, '{:c}{:c}{:c}' got.", 'A', 'P', 'E',
                    static_cast<char>(magic[0]), static_cast<char>(magic[1]),
                    static_cast<char>(magic[2]));
      throw invalid_payload("Invalid magic string");
    }
    ++step;
    record.type = file_.read_le<std::uint32_t>(pos + 4);
    ++step;
    record.flags = file_.read_le<std::uint32_t>(pos + 8);
    if (record.flags & end_record_flag) {
      is_end = true;
      return record;
    }
    ++step;
    record.timestamp = file_.read_le<std::uint64_t>(pos + 12);
    ++step;
    record.size = file_.read_le<std::uint32_t>(pos + 20);
    ++step;
    record.sha256 = hex_text(file_.range(pos + 24, 32));
    ++step;
    const std::uint16_t name_length = file_.read_le<std::uint16_t>(pos + 56);
    ++step;
    const auto name = file_.range(pos + record_header_size, name_length);
    record.alias = utils::to_wide(
        std::string_view(reinterpret_cast<const char*>(name.data()), name.size()));
    const std::uint64_t data_offset = pos + record_header_size + name_length;
    if (data_offset > UINT32_MAX) {
      throw vyn::exceptions::error(5u, "Record data lies beyond 4 GiB.");
    }
    record.data_offset = static_cast<std::uint32_t>(data_offset);
    return record;
  } catch (const std::exception& e) {
    VYN_LOG_EXC(log::level::error, e, "Fail on read value {}.", step);
    throw invalid_payload("Fail on read payload");
  }
}

}  // namespace vyn::sfx

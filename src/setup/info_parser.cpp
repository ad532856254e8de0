#include "setup/info_parser.h"

#include <algorithm>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

#include <fmt/format.h>
#include <pugixml.hpp>

#include "app/language_table.h"
#include "foundation/exceptions.h"
#include "foundation/log.h"
#include "payload/payload.h"
#include "setup/kestro_info_intf.h"
#include "setup/xml_paths.h"

namespace vyn::sfx {
namespace {

constexpr const wchar_t* info_alias = L"sfx-info.xml";
constexpr const char* info_alias_log = "sfx-info.xml";
constexpr std::uint32_t channel_format_error = 44030;

// A title without a known "lang" code is taken for US English.
std::uint32_t title_language(std::wstring_view code) {
  const language* row = find_language(code);
  return row ? row->id : us_english;
}

// The text of the first element at path, in document order; empty when there is none.
std::wstring text_at(const pugi::xml_node& from, const wchar_t* path) {
  return xml::element_at(from, path).text().get();
}

// True when the first element at path has a text starting with "1", "t", "T", "y" or "Y".
bool flag_at(const pugi::xml_node& from, const wchar_t* path) {
  return xml::element_at(from, path).text().as_bool(false);
}

std::wstring attribute_of(const pugi::xml_node& element, const wchar_t* name) {
  return element.attribute(name).value();
}

std::wstring pinned_channel(std::wstring version, const std::wstring& channel) {
  std::replace(version.begin(), version.end(), L'.', L'/');
  return version + L'/' + channel;
}

void write_channel(pugi::xml_node element, const std::wstring& channel) {
  pugi::xml_attribute attribute = element.attribute(L"channel");
  if (!attribute) attribute = element.append_attribute(L"channel");
  attribute.set_value(channel.c_str());
}

// Every piece between separators, empty ones included ("a;" gives "a" and "").
std::vector<std::wstring> split(std::wstring_view text, wchar_t separator) {
  std::vector<std::wstring> pieces;
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find(separator, start);
    pieces.emplace_back(text.substr(start, end - start));
    if (end == std::wstring_view::npos) return pieces;
    start = end + 1;
  }
}

// The "channels" parameter, "name=channel;name=channel", as a map from product name to channel;
// a repeated name takes its last channel.
std::map<std::wstring, std::wstring> channel_overrides(const command_line& cmd) {
  std::map<std::wstring, std::wstring> overrides;
  const std::optional<std::wstring> value = cmd.find(L"channels");
  if (!value) return overrides;
  for (const std::wstring& item : split(*value, L';')) {
    std::vector<std::wstring> parts = split(item, L'=');
    if (parts.size() != 2) throw exceptions::error(channel_format_error, "Channel override has wrong format.");
    overrides[std::move(parts[0])] = std::move(parts[1]);
  }
  return overrides;
}

// With "noupdate" a product stays on the version it was shipped with: its channel, and those of
// its sub-products, are rewritten in the document so that the setup engine sees the pinned
// channels too. A "channels" override changes only what the installer itself downloads.
std::vector<product_info> read_products(pugi::xml_document& document, const command_line& cmd) {
  const std::map<std::wstring, std::wstring> overrides = channel_overrides(cmd);
  const bool pin = cmd.has(L"noupdate");
  const std::vector<pugi::xml_node> found = xml::elements_at(document, L"sfx-info/products/product");
  if (found.empty()) throw exceptions::error("The sfx-info.xml does not contain any product data!");

  std::vector<product_info> products;
  products.reserve(found.size());
  for (const pugi::xml_node& element : found) {
    product_info product{attribute_of(element, L"name"), attribute_of(element, L"channel"),
                         attribute_of(element, L"version"), false};
    if (pin) {
      product.channel = pinned_channel(product.version, product.channel);
      write_channel(element, product.channel);
    }
    if (const auto override_of = overrides.find(product.name); override_of != overrides.end()) {
      product.channel = override_of->second;
      product.channel_overridden = true;
    }
    if (pin) {
      for (const pugi::xml_node& sub : xml::elements_at(element, L"sub-products/product")) {
        write_channel(sub, pinned_channel(attribute_of(sub, L"version"), attribute_of(sub, L"channel")));
      }
    }
    products.push_back(std::move(product));
  }
  return products;
}

}  // namespace

info_parser::info_parser(shared_context& context) : sfx_data_holder(context) {}

std::shared_ptr<verify_signature_intf> info_parser::create_verify_signature() {
  return std::make_shared<verify_signature>();
}

void info_parser::parse() {
  const std::vector<std::uint8_t> bytes = read_signed_file();
  pugi::xml_document document;
  const pugi::xml_parse_result parsed = document.load_buffer(bytes.data(), bytes.size());
  if (!parsed) {
    VYN_LOG_ERROR("Failed to parse xml file '{}', '{}'", info_alias_log, parsed.description());
    throw exceptions::missign_sfx_file("sfx info can't be parsed.");
  }

  state next;
  next.repository_base_url = text_at(document, L"sfx-info/repository/base-url");
  next.branding_base_url = text_at(document, L"sfx-info/branding-data/base-url");
  next.report_url = text_at(document, L"sfx-info/report/url");
  next.silent = flag_at(document, L"sfx-info/params/silent");
  next.nosplash = flag_at(document, L"sfx-info/params/nosplash");
  next.clear = flag_at(document, L"sfx-info/params/clear");
  next.offline = flag_at(document, L"sfx-info/params/offline");
  for (const pugi::xml_node& title : xml::elements_at(document, L"sfx-info/title")) {
    next.titles.emplace(title_language(title.attribute(L"lang").value()), title.text().get());
  }
  next.products = read_products(document, context_.cmd);

  // Only a configuration read in full reaches the setup engine.
  if (context_.info) {
    for (const pugi::xml_node& child : document.child(L"sfx-info").children()) context_.info->append_copy(child);
  }
  state_ = std::move(next);
}

// The file's bytes, refused unless they carry a valid signature: nothing of an unsigned file is
// parsed.
std::vector<std::uint8_t> info_parser::read_signed_file() {
  const std::shared_ptr<unpacker_intf> record = context_.payload ? context_.payload->find_by_alias(info_alias) : nullptr;
  if (!record) {
    VYN_LOG_ERROR("Mandatory file '{}' is missing in payload.", info_alias_log);
    throw exceptions::missign_sfx_file("sfx info file wasn't found in payload.");
  }
  std::vector<std::uint8_t> bytes = record->unpack();
  const std::shared_ptr<verify_signature_intf> verifier = create_verify_signature();
  if (!verifier || !verifier->verify_block(bytes.data(), bytes.size())) {
    VYN_LOG_ERROR("DSA verification check of file '{}' fail!", info_alias_log);
    throw exceptions::error(fmt::format("File is not DSA signed (alias:{})!", info_alias_log));
  }
  return bytes;
}

std::wstring info_parser::title(std::uint32_t lcid) const {
  auto found = state_.titles.find(lcid);
  if (found == state_.titles.end()) found = state_.titles.find(us_english);
  return found == state_.titles.end() ? std::wstring() : found->second;
}

}  // namespace vyn::sfx

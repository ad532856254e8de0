#include "product_description.h"

#include <algorithm>
#include <stdexcept>

#include "command.h"
#include "file_io.h"
#include "foundation/strings.h"
#include "payload/signature_block.h"

namespace vyn::tool {
namespace {

constexpr const wchar_t* files_path = L"product-info/setup-files/file";

// Keeps what a re-saved document needs to look like the original: comments, the declaration,
// whitespace between elements and CR LF line breaks.
constexpr unsigned faithful_parse = pugi::parse_cdata | pugi::parse_escapes | pugi::parse_ws_pcdata |
                                    pugi::parse_declaration | pugi::parse_comments | pugi::parse_pi |
                                    pugi::parse_doctype;

std::string narrow(const wchar_t* text) { return utils::to_narrow(text); }

bool has_utf8_bom(const std::vector<std::uint8_t>& bytes) {
  return bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF;
}

class vector_writer final : public pugi::xml_writer {
 public:
  explicit vector_writer(std::vector<std::uint8_t>& out) : out_(out) {}
  void write(const void* data, std::size_t size) override {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    out_.insert(out_.end(), bytes, bytes + size);
  }

 private:
  std::vector<std::uint8_t>& out_;
};

void set_child_text(pugi::xml_node parent, const wchar_t* name, const std::string& text) {
  pugi::xml_node child = parent.child(name);
  if (!child) child = parent.append_child(name);
  while (child.first_child()) child.remove_child(child.first_child());
  child.append_child(pugi::node_pcdata).set_value(utils::to_wide(text).c_str());
}

}  // namespace

product_description::product_description(std::vector<std::uint8_t> bytes, const std::string& path)
    : path_(path), original_(std::move(bytes)) {
  if (sfx::signature::ends_in_block(original_)) {
    throw tool_error(exit_refused, path_ + ": already ends in a signature block; publish signs the description "
                                           "itself, give it the unsigned one");
  }
  const auto result = read_.load_buffer(original_.data(), original_.size());
  if (!result) {
    throw tool_error(exit_refused, path_ + ": not an XML document: " + result.description() + " at offset " +
                                       std::to_string(result.offset));
  }
  if (!read_.child(L"product-info")) throw tool_error(exit_refused, path_ + ": the root is not <product-info>");
  encoding_ = result.encoding;
  try {
    for (const auto& found : read_.select_nodes(files_path)) {
      const pugi::xml_node file = found.node();
      files_.push_back({narrow(file.child(L"name").text().get()), narrow(file.child(L"sha-256").text().get()),
                        narrow(file.child(L"size").text().get())});
    }
  } catch (const std::exception&) {
    throw tool_error(exit_refused, path_ + ": a setup file's text is not valid Unicode");
  }
}

std::string product_description::product_name() const {
  return narrow(read_.child(L"product-info").child(L"name").text().get());
}

void product_description::fill(std::size_t index, const std::string& sha256, std::uint64_t size) {
  if (!edited_) {
    if (encoding_ != pugi::encoding_utf8) {
      throw tool_error(exit_refused, path_ + ": --fill edits UTF-8 descriptions only");
    }
    edited_ = std::make_unique<pugi::xml_document>();
    if (!edited_->load_buffer(original_.data(), original_.size(), faithful_parse)) {
      throw tool_error(exit_refused, path_ + ": the document cannot be edited");
    }
  }
  const auto found = edited_->select_nodes(files_path);
  if (index >= found.size()) {
    throw tool_error(exit_internal, path_ + ": setup file " + std::to_string(index) + " not found");
  }
  const pugi::xml_node file = found[index].node();
  set_child_text(file, L"sha-256", sha256);
  set_child_text(file, L"size", std::to_string(size));
  files_[index].sha256 = sha256;
  files_[index].size = std::to_string(size);
}

// The library keeps no text outside the root element: the top-level nodes are written one by one
// with the document's own line break between them and at the end.
std::vector<std::uint8_t> product_description::bytes() const {
  if (!edited_) return original_;
  const std::string eol = uses_crlf(original_) ? "\r\n" : "\n";
  std::vector<std::uint8_t> out;
  if (has_utf8_bom(original_)) out.assign({0xEF, 0xBB, 0xBF});
  vector_writer writer(out);
  for (const pugi::xml_node node : edited_->children()) {
    if (node != edited_->first_child()) out.insert(out.end(), eol.begin(), eol.end());
    node.print(writer, L"", pugi::format_raw, pugi::encoding_utf8);
  }
  if (!original_.empty() && original_.back() == '\n') out.insert(out.end(), eol.begin(), eol.end());
  return out;
}

}  // namespace vyn::tool

#pragma once
// The product description (product-info.xml) as `publish` reads it: the product's name and the
// setup files of every group, whatever their conditions (the repository serves every machine).
// Values are read the way the stub reads them. Filling in hashes and sizes edits a second parse
// that keeps the document's declaration, comments, whitespace and line breaks; only quoting and
// character references take the XML library's own form (attributes in double quotes, "&amp;").

#include <pugixml.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vyn::tool {

struct described_file {
  std::string name;    // <name>, UTF-8
  std::string sha256;  // <sha-256> exactly as written
  std::string size;    // <size> exactly as written
};

class product_description {
 public:
  // Parses bytes read from path; raises tool_error(exit_refused) when they are no XML document
  // with a product-info root or already end in a signature block.
  product_description(std::vector<std::uint8_t> bytes, const std::string& path);

  std::string product_name() const;  // <name> of the root, empty when absent
  const std::vector<described_file>& files() const noexcept { return files_; }

  // Sets <sha-256> and <size> of the index-th file (creating the elements when missing). Raises
  // tool_error(exit_refused) for a document that is not UTF-8.
  void fill(std::size_t index, const std::string& sha256, std::uint64_t size);

  // The document: the bytes as read, or the edited document.
  std::vector<std::uint8_t> bytes() const;

 private:
  std::string path_;
  std::vector<std::uint8_t> original_;
  pugi::xml_document read_;
  std::unique_ptr<pugi::xml_document> edited_;
  pugi::xml_encoding encoding_ = pugi::encoding_auto;
  std::vector<described_file> files_;
};

}  // namespace vyn::tool

#pragma once
// The setup information document ("kestro-info.xml") that several components fill during a run
// and that the setup master reads.

#include <string>

#include <pugixml.hpp>

namespace vyn::sfx {

class kestro_info_intf {
 public:
  // Appends a deep copy of node as the last child of the root; the caller keeps its node.
  virtual void append_copy(const pugi::xml_node& node) = 0;
  // Moves node, which must belong to this document, to the end of the root's children.
  virtual void append_move(const pugi::xml_node& node) = 0;
  // Writes the document (UTF-8 without BOM, tab-indented); false when the file cannot be written.
  virtual bool save(const std::wstring& path) = 0;

 protected:
  ~kestro_info_intf() = default;  // owned through shared pointers to the concrete type
};

// Appends <name>text</name> to the document; nothing when there is no document.
inline void append_text_element(kestro_info_intf* info, const wchar_t* name, const std::wstring& text) {
  if (!info) return;
  pugi::xml_document scratch;
  scratch.append_child(name).text().set(text.c_str());
  info->append_copy(scratch.document_element());
}

}  // namespace vyn::sfx

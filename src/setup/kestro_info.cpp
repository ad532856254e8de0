#include "setup/kestro_info.h"

namespace vyn::sfx {

kestro_info::kestro_info() {
  auto declaration = document_.append_child(pugi::node_declaration);
  declaration.append_attribute(L"version") = L"1.0";
  declaration.append_attribute(L"encoding") = L"utf-8";
  root_ = document_.append_child(L"kestro-info");
  root_.append_attribute(L"xmlns:xs") = L"http://www.w3.org/2001/XMLSchema-instance";
}

void kestro_info::append_copy(const pugi::xml_node& node) {
  std::lock_guard guard(lock_);
  root_.append_copy(node);
}

void kestro_info::append_move(const pugi::xml_node& node) {
  std::lock_guard guard(lock_);
  // pugixml refuses to move a node of another document, which is what the caller expects.
  root_.append_move(node);
}

bool kestro_info::save(const std::wstring& path) {
  std::lock_guard guard(lock_);
  // The declaration is part of the document, so the writer must not add its own.
  return document_.save_file(path.c_str(), L"\t", pugi::format_indent | pugi::format_no_declaration,
                             pugi::encoding_utf8);
}

}  // namespace vyn::sfx

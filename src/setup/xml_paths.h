#pragma once

// Element lookups by plain child paths ("sfx-info/products/product") in the stub's XML
// documents. The stub's questions are all of this shape, so it walks the tree itself and carries
// no XPath engine. Every walk here is a loop or as deep as the path, so a deeply nested document
// cannot exhaust the stack.

#include <string>
#include <string_view>
#include <vector>

#include <pugixml.hpp>

namespace vyn::xml {

inline bool is_element(const pugi::xml_node& node, std::wstring_view name) {
  return node.type() == pugi::node_element && name == node.name();
}

namespace detail {

inline void collect(const pugi::xml_node& from, std::wstring_view path, std::vector<pugi::xml_node>& out) {
  const std::size_t slash = path.find(L'/');
  const std::wstring_view name = path.substr(0, slash);
  for (pugi::xml_node child = from.first_child(); child; child = child.next_sibling()) {
    if (!is_element(child, name)) continue;
    if (slash == std::wstring_view::npos) {
      out.push_back(child);
    } else {
      collect(child, path.substr(slash + 1), out);
    }
  }
}

inline pugi::xml_node first(const pugi::xml_node& from, std::wstring_view path) {
  const std::size_t slash = path.find(L'/');
  const std::wstring_view name = path.substr(0, slash);
  for (pugi::xml_node child = from.first_child(); child; child = child.next_sibling()) {
    if (!is_element(child, name)) continue;
    if (slash == std::wstring_view::npos) return child;
    if (const pugi::xml_node found = first(child, path.substr(slash + 1))) return found;
  }
  return {};
}

}  // namespace detail

// Every element reached from `from` through the path's child names, in document order.
inline std::vector<pugi::xml_node> elements_at(const pugi::xml_node& from, std::wstring_view path) {
  std::vector<pugi::xml_node> found;
  detail::collect(from, path, found);
  return found;
}

// The first of elements_at(from, path) in document order; an empty node when there is none.
inline pugi::xml_node element_at(const pugi::xml_node& from, std::wstring_view path) {
  return detail::first(from, path);
}

// True when one of the element's attributes called `name` (a document may repeat one) has
// exactly this value.
inline bool has_attribute(const pugi::xml_node& element, std::wstring_view name, std::wstring_view value) {
  for (pugi::xml_attribute attribute = element.first_attribute(); attribute; attribute = attribute.next_attribute()) {
    if (name == attribute.name() && value == attribute.value()) return true;
  }
  return false;
}

// The node after `node` in document order among the descendants of `root`; empty after the last.
inline pugi::xml_node next_in_document(pugi::xml_node node, const pugi::xml_node& root) {
  if (const pugi::xml_node child = node.first_child()) return child;
  for (; node && node != root; node = node.parent()) {
    if (const pugi::xml_node sibling = node.next_sibling()) return sibling;
  }
  return {};
}

// All the text inside a node, its descendants' character data joined in document order.
inline std::wstring string_value(const pugi::xml_node& node) {
  std::wstring text;
  if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) return node.value();
  for (pugi::xml_node at = node.first_child(); at; at = next_in_document(at, node)) {
    if (at.type() == pugi::node_pcdata || at.type() == pugi::node_cdata) text += at.value();
  }
  return text;
}

}  // namespace vyn::xml

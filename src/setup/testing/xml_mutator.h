#pragma once
// A deterministic mutator of XML documents for the randomised parser tests: byte damage (changed,
// inserted and removed bytes, cuts) and tree changes (removed, copied, renamed and re-valued
// elements, and deep nesting). Each test gives the words its parser knows.

#include <pugixml.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vyn::sfx::testing {

// A splitmix64 stream: the same seed gives the same mutations on every platform.
class random_stream {
 public:
  explicit random_stream(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  std::size_t below(std::size_t n) { return n ? static_cast<std::size_t>(next() % n) : 0; }

 private:
  std::uint64_t state_;
};

struct xml_vocabulary {
  std::vector<const wchar_t*> element_names;    // what an element may be renamed to
  std::vector<const wchar_t*> containers;       // what nesting wraps an element in
  std::vector<std::size_t> nesting_depths;
  std::vector<const wchar_t*> attribute_names;  // attributes that re-valuing adds or changes
  std::vector<const wchar_t*> values;
  std::string_view inserted_characters;         // single characters that byte damage inserts
};

class xml_mutator {
 public:
  xml_mutator(random_stream& random, xml_vocabulary words) : random_(random), words_(std::move(words)) {}

  // One to three rounds of byte or tree damage, and now and then deep nesting at the end.
  std::string mutate(const std::string& document) {
    std::string result = document;
    const std::size_t rounds = 1 + random_.below(3);
    for (std::size_t i = 0; i < rounds; ++i) {
      result = random_.below(3) == 0 ? mutate_bytes(result) : mutate_tree(result, false);
    }
    // Nesting comes last: pugixml removes a subtree recursively, so a later round that dropped a
    // deeply nested element would overflow the mutator's own stack.
    return random_.below(4) == 0 ? mutate_tree(result, true) : result;
  }

  std::string mutate_bytes(std::string text) {
    switch (random_.below(4)) {
      case 0:
        for (std::size_t n = 1 + random_.below(8); n && !text.empty(); --n) {
          text[random_.below(text.size())] = static_cast<char>(random_.next());
        }
        break;
      case 1:
        text.insert(random_.below(text.size() + 1), 1,
                    words_.inserted_characters[random_.below(words_.inserted_characters.size())]);
        break;
      case 2:
        if (!text.empty()) text.erase(random_.below(text.size()), 1 + random_.below(16));
        break;
      default: text.resize(random_.below(text.size() + 1)); break;
    }
    return text;
  }

 private:
  std::string mutate_tree(const std::string& text, bool nesting) {
    pugi::xml_document document;
    if (!document.load_buffer(text.data(), text.size())) return mutate_bytes(text);
    std::vector<pugi::xml_node> elements;
    for (pugi::xml_node node = document.first_child(); node; node = next_in_order(node)) {
      if (node.type() == pugi::node_element) elements.push_back(node);
    }
    if (elements.size() < 2) return mutate_bytes(text);
    pugi::xml_node target = elements[1 + random_.below(elements.size() - 1)];
    switch (nesting ? 0 : 1 + random_.below(5)) {
      case 0: nest(target); break;
      case 1: target.parent().remove_child(target); break;
      case 2: if (target.first_attribute()) target.remove_attribute(pick_attribute(target)); break;
      case 3: target.parent().insert_copy_after(target, target); break;
      case 4: target.set_name(pick(words_.element_names)); break;
      default: revalue(target); break;
    }
    string_writer out;
    document.save(out, L"", pugi::format_raw, pugi::encoding_utf8);
    return std::move(out.text);
  }

  // Collects a saved document (pugixml is built without its iostream interface).
  struct string_writer final : pugi::xml_writer {
    std::string text;
    void write(const void* data, std::size_t size) override {
      text.append(static_cast<const char*>(data), size);
    }
  };

  static pugi::xml_node next_in_order(pugi::xml_node node) {
    if (node.first_child()) return node.first_child();
    while (node && !node.next_sibling()) node = node.parent();
    return node ? node.next_sibling() : pugi::xml_node();
  }

  template <typename T>
  T pick(const std::vector<T>& choices) { return choices[random_.below(choices.size())]; }

  pugi::xml_attribute pick_attribute(pugi::xml_node node) {
    return pick(std::vector<pugi::xml_attribute>(node.attributes_begin(), node.attributes_end()));
  }

  // Wraps the element in levels of containers, as deep as a hostile file might.
  void nest(pugi::xml_node target) {
    const std::size_t depth = pick(words_.nesting_depths);
    pugi::xml_node outer = target.parent().insert_child_before(pick(words_.containers), target);
    pugi::xml_node inner = outer;
    for (std::size_t i = 1; i < depth; ++i) inner = inner.append_child(pick(words_.containers));
    inner.append_move(target);
  }

  // Gives one of the element's attributes, or a named one (added when missing), a value.
  void revalue(pugi::xml_node target) {
    pugi::xml_attribute attribute;
    if (target.first_attribute() && random_.below(2) == 0) {
      attribute = pick_attribute(target);
    } else {
      const wchar_t* name = pick(words_.attribute_names);
      attribute = target.attribute(name);
      if (!attribute) attribute = target.append_attribute(name);
    }
    attribute.set_value(pick(words_.values));
  }

  random_stream& random_;
  xml_vocabulary words_;
};

}  // namespace vyn::sfx::testing

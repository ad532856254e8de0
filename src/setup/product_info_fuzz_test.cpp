// Mutated product descriptions, made by a deterministic mutator, must never crash or hang the
// parser and the condition engine: every failure is one of the errors the parser names, or the
// narrowing error of an oversized integer.
#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "app/value_holder.h"
#include "foundation/exceptions.h"
#include "setup/condition_values.h"
#include "setup/master_setup_evaluator.h"
#include "setup/product_info_parser.h"
#include "setup/running_brand.h"

namespace vyn::sfx {
namespace {

constexpr const char* base_document = R"(<?xml version="1.0" encoding="utf-8"?>
<product-info>
  <name>fuzzed</name>
  <version>24.1.0.17</version>
  <setup-files>
    <conditions default="true">
      <os-at-least major="6" minor="1" sp="1"/>
      <not-os-at-most major="5" build="2600"/>
      <or><os platform="x64" type="workstation"/><os platform="arm64"/><not-os platform="x86" type="server"/></or>
    </conditions>
    <file><name>kestro.exe</name><sha-256>00ff</sha-256><timestamp>1700000000</timestamp><size>123456</size></file>
    <file>
      <conditions><and><equals left="%KESTRO_IS_SFX%" right="1"/><less-than left="9" right="10"/>
        <greater-than type="version" left="10.0.19045" right="10.0.9200"/></and></conditions>
      <conditions2><not><file path="C:\vyn-fuzz-none\x.dll" exists="true"/></not>
        <file path="C:\vyn-fuzz-none" type="device" exists="false"/></conditions2>
      <name>core.dll</name><sha-256>11ee</sha-256><size>42</size>
    </file>
    <file>
      <conditions><find string="%KESTRO_SFX_ARCHITECTURE%" substring="x86,x64" inlist="true"/>
        <starts-with string="%KESTRO_IS_MASTER%" prefix="1"/><brand name="orvek"/>
        <not-brand name="tarn"/><future unsupported="true"/><boolean value="true"/></conditions>
      <name>extra.dll</name>
    </file>
  </setup-files>
  <setup-commands executable="kestro.exe" arguments="--install">
    <conditions><not-and><boolean value="true"/><boolean value="false"/></not-and></conditions>
    <sfx arguments="--sfx"/>
  </setup-commands>
  <branding-files>
    <file><url>https://b/l.png</url><edat-alias>l</edat-alias><name>l.png</name><hash-url>h</hash-url>
      <conditions><os platform="arm64"/></conditions></file>
  </branding-files>
</product-info>
<!-- signature -->
)";

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

class mutator {
 public:
  explicit mutator(std::uint64_t seed) : random_(seed) {}

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

 private:
  std::string mutate_bytes(std::string text) {
    switch (random_.below(4)) {
      case 0:
        for (std::size_t n = 1 + random_.below(8); n && !text.empty(); --n) {
          text[random_.below(text.size())] = static_cast<char>(random_.next());
        }
        break;
      case 1: text.insert(random_.below(text.size() + 1), 1, "<>/=\"'&%\xc3"[random_.below(10)]); break;
      case 2: if (!text.empty()) text.erase(random_.below(text.size()), 1 + random_.below(16)); break;
      default: text.resize(random_.below(text.size() + 1)); break;
    }
    return text;
  }

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
      case 4: rename(target); break;
      default: revalue(target); break;
    }
    std::ostringstream out;
    document.save(out, L"", pugi::format_raw, pugi::encoding_utf8);
    return out.str();
  }

  static pugi::xml_node next_in_order(pugi::xml_node node) {
    if (node.first_child()) return node.first_child();
    while (node && !node.next_sibling()) node = node.parent();
    return node ? node.next_sibling() : pugi::xml_node();
  }

  pugi::xml_attribute pick_attribute(pugi::xml_node node) {
    std::vector<pugi::xml_attribute> attributes(node.attributes_begin(), node.attributes_end());
    return attributes[random_.below(attributes.size())];
  }

  // Wraps the element in many levels of containers, as deep as a hostile description might.
  void nest(pugi::xml_node target) {
    static const wchar_t* containers[] = {L"and", L"or", L"not", L"not-and", L"conditions", L"file", L"setup-files"};
    static const std::size_t depths[] = {3, 60, 120, 2000, 30000};
    const std::size_t depth = depths[random_.below(std::size(depths))];
    pugi::xml_node outer = target.parent().insert_child_before(containers[random_.below(std::size(containers))], target);
    pugi::xml_node inner = outer;
    for (std::size_t i = 1; i < depth; ++i) inner = inner.append_child(containers[random_.below(std::size(containers))]);
    inner.append_move(target);
  }

  void rename(pugi::xml_node target) {
    static const wchar_t* names[] = {L"and", L"or", L"not", L"not-not", L"boolean", L"os", L"os-at-least",
                                     L"not-os-at-most", L"file", L"equals", L"not-less-than", L"greater-than",
                                     L"starts-with", L"brand", L"find", L"conditions", L"conditions2",
                                     L"setup-commands", L"hash-url", L"name", L"x"};
    target.set_name(names[random_.below(std::size(names))]);
  }

  void revalue(pugi::xml_node target) {
    static const wchar_t* names[] = {L"value", L"major", L"minor", L"sp", L"build", L"platform", L"type", L"path",
                                     L"exists", L"empty", L"left", L"right", L"string", L"substring", L"prefix",
                                     L"inlist", L"name", L"unsupported", L"default", L"executable"};
    static const wchar_t* values[] = {L"", L"true", L"false", L"TRUE", L"2147483647", L"2147483648", L"-1", L"ten",
                                      L" 7", L"%KESTRO_IS_SFX%", L"version", L"VERSION", L"x64", L"arm64", L"ia64",
                                      L"device", L"file", L"server", L"C:\\vyn-fuzz-none\\<bad>", L"1.2.3.4.5",
                                      L"99999999999999999999", L",,,"};
    pugi::xml_attribute attribute;
    if (target.first_attribute() && random_.below(2) == 0) {
      attribute = pick_attribute(target);
    } else {
      const wchar_t* name = names[random_.below(std::size(names))];
      attribute = target.attribute(name);
      if (!attribute) attribute = target.append_attribute(name);
    }
    attribute.set_value(values[random_.below(std::size(values))]);
  }

  random_stream random_;
};

TEST(ProductInfoFuzz, MutatedDescriptions_FailOnlyWithNamedErrors) {
  const repository::conditions::scoped_brand_override brand(root::brand_kind::orvek);
  shared_context context;
  context.values = std::make_shared<value_holder>();
  mutator mutate(0x5EEDF00Dull);
  std::size_t parsed = 0, rejected = 0, narrowed = 0;
  const auto started = std::chrono::steady_clock::now();
  for (int iteration = 0; iteration < 3000; ++iteration) {
    const std::string document = mutate.mutate(base_document);
    product_info_parser parser(context);
    try {
      parser.parse({reinterpret_cast<const std::uint8_t*>(document.data()), document.size()});
      master_setup_evaluator master;
      for (const file_info& file : parser.setup_files()) master.evaluate(file.name, parser.setup_commands(), L"F");
      ++parsed;
    } catch (const repository::conditions::narrowing_error&) {
      ++narrowed;
    } catch (const vyn::exceptions::error& e) {
      const std::string message = e.what();
      EXPECT_TRUE(message == "Product-info data are empty." || message == "Product-info data can't be parsed.")
          << "iteration " << iteration << ": " << message;
      ++rejected;
    } catch (const std::exception& e) {
      ADD_FAILURE() << "iteration " << iteration << ": unexpected " << e.what();
    }
  }
  const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::cout << "parsed " << parsed << ", rejected " << rejected << ", narrowing " << narrowed << " in " << seconds
            << " s\n";
  // The mutations must exercise both outcomes, or the test proves little.
  EXPECT_GT(parsed, 300u);
  EXPECT_GT(rejected, 100u);
  EXPECT_GT(narrowed, 0u);
}

}  // namespace
}  // namespace vyn::sfx

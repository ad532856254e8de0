// Mutated configuration files, made by a deterministic mutator and mostly signed after mutation so
// that they get past the signature check, must never crash or hang the parser: every failure is
// one of the errors the parser names.
#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/exceptions.h"
#include "payload/payload.h"
#include "payload/signature_testing.h"
#include "setup/info_parser.h"
#include "setup/kestro_info.h"

namespace vyn::sfx {
namespace {

using bytes = std::vector<std::uint8_t>;

constexpr const char* base_document = R"(<?xml version="1.0" encoding="utf-8"?>
<sfx-info xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xsi:noNamespaceSchemaLocation="sfx-info.xsd">
  <config-def><url>https://cfg.example/config</url></config-def>
  <repository><base-url>repo.example/sfx</base-url></repository>
  <branding-data><base-url>brand.example</base-url></branding-data>
  <report><url>report.example/r</url></report>
  <params><silent>yes</silent><nosplash>0</nosplash><clear>t</clear><offline/></params>
  <products>
    <product name="orvek" channel="release" version="23.4.15592.15612">
      <sub-products><product channel="beta" version="1.2"/><product channel="stable"/></sub-products>
    </product>
    <product name="tarn" channel="beta" version="5"/>
  </products>
  <title lang="en-us">Setup</title>
  <title lang="de-de">Einrichtung</title>
  <title>Fallback</title>
</sfx-info>
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
  explicit mutator(random_stream& random) : random_(random) {}

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
      case 1: text.insert(random_.below(text.size() + 1), 1, "<>/=\"'&;.\xc3"[random_.below(10)]); break;
      case 2: if (!text.empty()) text.erase(random_.below(text.size()), 1 + random_.below(16)); break;
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
      case 4: target.set_name(pick(names)); break;
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

  template <std::size_t n>
  const wchar_t* pick(const wchar_t* const (&choices)[n]) { return choices[random_.below(n)]; }

  pugi::xml_attribute pick_attribute(pugi::xml_node node) {
    std::vector<pugi::xml_attribute> attributes(node.attributes_begin(), node.attributes_end());
    return attributes[random_.below(attributes.size())];
  }

  // Wraps the element in levels of containers, as deep as a hostile file might.
  void nest(pugi::xml_node target) {
    static const std::size_t depths[] = {3, 60, 2000, 30000};
    const std::size_t depth = depths[random_.below(std::size(depths))];
    pugi::xml_node outer = target.parent().insert_child_before(pick(names), target);
    pugi::xml_node inner = outer;
    for (std::size_t i = 1; i < depth; ++i) inner = inner.append_child(pick(names));
    inner.append_move(target);
  }

  void revalue(pugi::xml_node target) {
    static const wchar_t* const attributes[] = {L"name", L"channel", L"version", L"lang", L"x"};
    static const wchar_t* const values[] = {L"", L"orvek", L"tarn", L"1.2.3.4", L"...", L"en-us", L"DE-DE",
                                            L"zh-tw", L"a=b;c", L"/", L"\u00e9\u4e2d"};
    pugi::xml_attribute attribute = target.attribute(pick(attributes));
    if (!attribute) attribute = target.append_attribute(pick(attributes));
    attribute.set_value(pick(values));
  }

  static constexpr const wchar_t* names[] = {L"sfx-info", L"products", L"product", L"sub-products", L"title",
                                             L"params", L"silent", L"offline", L"repository", L"base-url",
                                             L"report", L"url", L"x"};
  random_stream& random_;
};

// The configuration held in memory, as the payload would hand it out; nothing when file is empty.
class memory_payload : public payload_intf, public unpacker_intf {
 public:
  explicit memory_payload(std::optional<bytes> file) : file_(std::move(file)) {}
  std::shared_ptr<unpacker_intf> find_by_hash(const std::wstring&) override { return nullptr; }
  std::shared_ptr<unpacker_intf> find_by_alias(const std::wstring& alias) override {
    if (!file_ || alias != L"sfx-info.xml") return nullptr;
    return {std::shared_ptr<unpacker_intf>(), this};  // not owning: the payload outlives the parse
  }
  std::vector<std::wstring> aliases() override { return {}; }
  std::optional<std::wstring> text_by_alias(const std::wstring&) override { return std::nullopt; }
  void unpack_to_file(const std::wstring&) override { ADD_FAILURE() << "the parser reads into memory"; }
  bytes unpack() override { return *file_; }

 private:
  std::optional<bytes> file_;
};

bytes sign(const std::string& text) {
  static const signature::digest_signer signer = testing::signer(7, signature::key_kind::dsa, 0);
  signature::sign_options options;
  options.form = signature::block_form::text;
  options.version = 2;
  options.xml_comment = true;
  return signature::sign_data({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, options, signer).data;
}

// A file signed after mutation (mostly), mutated after signing, never signed, or none at all.
std::optional<bytes> make_file(random_stream& random, mutator& mutate) {
  switch (random.below(20)) {
    case 0: return std::nullopt;
    case 1: case 2: {
      const bytes signed_base = sign(base_document);
      const std::string text = mutate.mutate_bytes({signed_base.begin(), signed_base.end()});
      return bytes(text.begin(), text.end());
    }
    case 3: {
      const std::string text = mutate.mutate(base_document);
      return bytes(text.begin(), text.end());
    }
    default: return sign(mutate.mutate(base_document));
  }
}

TEST(InfoParserFuzz, MutatedFiles_FailOnlyWithNamedErrors) {
  static const wchar_t* const commands[] = {L"", L"/noupdate", L"/channels:orvek=dev;tarn=x",
                                            L"/noupdate /channels:tarn=y", L"/channels:orvek", L"/channels:a=b;"};
  static const std::set<std::string> named = {
      "sfx info file wasn't found in payload.", "File is not DSA signed (alias:sfx-info.xml)!",
      "sfx info can't be parsed.", "Channel override has wrong format.",
      "The sfx-info.xml does not contain any product data!"};
  random_stream random(0x5F1C0FF1Eull);
  mutator mutate(random);
  std::size_t parsed = 0, unsigned_files = 0, unparsable = 0, other = 0;
  const auto started = std::chrono::steady_clock::now();
  for (int iteration = 0; iteration < 1000; ++iteration) {
    shared_context context;
    context.info = std::make_shared<kestro_info>();
    context.payload = std::make_shared<memory_payload>(make_file(random, mutate));
    context.cmd.parse(commands[random.below(std::size(commands))], false);
    info_parser parser(context);
    try {
      parser.parse();
      EXPECT_FALSE(parser.products().empty());
      parser.title(0x407);
      ++parsed;
    } catch (const vyn::exceptions::error& e) {
      const std::string message = e.what();
      EXPECT_TRUE(named.count(message)) << "iteration " << iteration << ": " << message;
      const bool missing_file_type = dynamic_cast<const exceptions::missign_sfx_file*>(&e) != nullptr;
      EXPECT_EQ(missing_file_type, message.rfind("sfx info ", 0) == 0) << "iteration " << iteration;
      if (message.rfind("File is not", 0) == 0) {
        ++unsigned_files;
      } else if (message == "sfx info can't be parsed.") {
        ++unparsable;
      } else {
        ++other;
      }
    } catch (const std::exception& e) {
      ADD_FAILURE() << "iteration " << iteration << ": unexpected " << e.what();
    }
  }
  const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::cout << "parsed " << parsed << ", unsigned " << unsigned_files << ", unparsable " << unparsable
            << ", other failures " << other << " in " << seconds << " s\n";
  // The mutations must reach every outcome, or the test proves little.
  EXPECT_GT(parsed, 100u);
  EXPECT_GT(unsigned_files, 20u);
  EXPECT_GT(unparsable, 20u);
  EXPECT_GT(other, 20u);
}

}  // namespace
}  // namespace vyn::sfx

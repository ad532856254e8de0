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
#include "setup/testing/xml_mutator.h"

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

using testing::random_stream;
using mutator = testing::xml_mutator;

const testing::xml_vocabulary words = {
    .element_names = {L"sfx-info", L"products", L"product", L"sub-products", L"title", L"params", L"silent",
                      L"offline", L"repository", L"base-url", L"report", L"url", L"x"},
    .containers = {L"sfx-info", L"products", L"product", L"sub-products", L"title", L"params", L"silent",
                   L"offline", L"repository", L"base-url", L"report", L"url", L"x"},
    .nesting_depths = {3, 60, 2000, 30000},
    .attribute_names = {L"name", L"channel", L"version", L"lang", L"x"},
    .values = {L"", L"orvek", L"tarn", L"1.2.3.4", L"...", L"en-us", L"DE-DE", L"zh-tw", L"a=b;c", L"/",
               L"\u00e9\u4e2d"},
    .inserted_characters = "<>/=\"'&;.\xc3",
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
  mutator mutate(random, words);
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

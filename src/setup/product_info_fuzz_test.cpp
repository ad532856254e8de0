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
#include "setup/testing/xml_mutator.h"

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

const testing::xml_vocabulary words = {
    .element_names = {L"and", L"or", L"not", L"not-not", L"boolean", L"os", L"os-at-least", L"not-os-at-most",
                      L"file", L"equals", L"not-less-than", L"greater-than", L"starts-with", L"brand", L"find",
                      L"conditions", L"conditions2", L"setup-commands", L"hash-url", L"name", L"x"},
    .containers = {L"and", L"or", L"not", L"not-and", L"conditions", L"file", L"setup-files"},
    .nesting_depths = {3, 60, 120, 2000, 30000},
    .attribute_names = {L"value", L"major", L"minor", L"sp", L"build", L"platform", L"type", L"path", L"exists",
                        L"empty", L"left", L"right", L"string", L"substring", L"prefix", L"inlist", L"name",
                        L"unsupported", L"default", L"executable"},
    .values = {L"", L"true", L"false", L"TRUE", L"2147483647", L"2147483648", L"-1", L"ten", L" 7",
               L"%KESTRO_IS_SFX%", L"version", L"VERSION", L"x64", L"arm64", L"ia64", L"device", L"file",
               L"server", L"C:\\vyn-fuzz-none\\<bad>", L"1.2.3.4.5", L"99999999999999999999", L",,,"},
    .inserted_characters = std::string_view("<>/=\"'&%\xc3", 10),  // with a NUL byte
};

TEST(ProductInfoFuzz, MutatedDescriptions_FailOnlyWithNamedErrors) {
  const repository::conditions::scoped_brand_override brand(root::brand_kind::orvek);
  shared_context context;
  context.values = std::make_shared<value_holder>();
  testing::random_stream random(0x5EEDF00Dull);
  testing::xml_mutator mutate(random, words);
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

#include "app/sfx_translator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "app/language_table.h"
#include "foundation/strings.h"
#include "payload/lzma_packer.h"

namespace vyn::sfx {
namespace {

const std::vector<std::wstring> identifiers = {
    L"@Sfx_Download_Fail", L"@Sfx_MissingSfx",   L"@Sfx_FileInvalidSignature", L"@Sfx_MsgBoxTitle",
    L"@Sfx_UnsupportedOS", L"@Sfx_Starting",     L"@Sfx_ErrCode",              L"@Sfx_LogInfo",
    L"@Sfx_Title",         L"@Sfx_LowIntegrity", L"@Sfx_PPI_Desc1",            L"@Sfx_PPI_Desc2",
    L"@Sfx_PPI_Install",   L"@Sfx_PPI_Cancel"};

const std::set<std::wstring> languages_with_texts = {
    L"ar-sa", L"be-by", L"bg-bg", L"bn-in", L"ca-es", L"cs-cz", L"da-dk", L"de-de", L"el-gr", L"en-us", L"es-es",
    L"et-ee", L"fa-ir", L"fi-fi", L"fr-fr", L"he-il", L"hi-in", L"hr-hr", L"hu-hu", L"id-id", L"it-it", L"ja-jp",
    L"ko-kr", L"lt-lt", L"lv-lv", L"ms-my", L"nb-no", L"nl-nl", L"pl-pl", L"pt-br", L"pt-pt", L"ro-ro", L"ru-ru",
    L"sk-sk", L"sl-si", L"sr-sp", L"sv-se", L"th-th", L"tr-tr", L"uk-ua", L"ur-pk", L"vi-vn", L"zh-cn", L"zh-tw"};

// identifier -> language tag -> text, as the table's source in the repository writes them.
using source_table = std::map<std::wstring, std::map<std::wstring, std::wstring>>;

source_table read_source(std::vector<std::string>& problems) {
  pugi::xml_document document;
  const pugi::xml_parse_result parsed = document.load_file(VYN_LOCALISATION_XML);
  if (!parsed) problems.push_back(std::string("the source table does not parse: ") + parsed.description());
  source_table table;
  for (const pugi::xml_node identifier : document.child(L"identifiers").children(L"identifier")) {
    auto& texts = table[identifier.attribute(L"id").value()];
    for (const pugi::xml_node language : identifier.children(L"language")) {
      const std::wstring tag = language.attribute(L"lang").value();
      if (std::wstring(language.attribute(L"status").value()) != L"Reviewed") {
        problems.push_back(utils::to_narrow(tag) + " is not reviewed");
      }
      if (!texts.emplace(tag, language.text().get()).second) problems.push_back(utils::to_narrow(tag) + " twice");
    }
  }
  return table;
}

// The placeholders of a text in order, and its line feeds, as one comparable shape.
std::wstring shape(const std::wstring& text) {
  std::wstring result;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\n') result += L"|LF";
    if (text[i] == L'{') result += L"|" + text.substr(i, text.find(L'}', i) - i + 1);
  }
  return result;
}

TEST(Translator, EveryLanguage_HasEveryTextWithTheEnglishPlaceholdersAndLineFeeds) {
  std::vector<std::string> problems;
  const source_table table = read_source(problems);
  EXPECT_EQ(table.size(), identifiers.size());
  for (const std::wstring& id : identifiers) {
    const auto texts = table.find(id);
    if (texts == table.end()) {
      problems.push_back(utils::to_narrow(id) + " is missing");
      continue;
    }
    const std::wstring english = texts->second.count(L"en-us") ? texts->second.at(L"en-us") : L"";
    std::set<std::wstring> tags;
    for (const auto& [tag, text] : texts->second) {
      tags.insert(tag);
      if (text.empty()) problems.push_back(utils::to_narrow(id + L" " + tag) + " is empty");
      if (shape(text) != shape(english)) {
        problems.push_back(utils::to_narrow(id + L" " + tag) + " differs in placeholders or line feeds");
      }
      if (tag != L"en-us" && text == english && id != L"@Sfx_ErrCode") {
        problems.push_back(utils::to_narrow(id + L" " + tag) + " is the English text");
      }
    }
    if (tags != languages_with_texts) problems.push_back(utils::to_narrow(id) + " has other languages");
  }
  for (const std::string& problem : problems) ADD_FAILURE() << problem;
}

// The stub's own resource holds exactly the source table: every language of the language table
// reads its texts from it, the three without texts read US English.
TEST(Translator, ResourceOfTheStub_GivesEveryLanguageItsTexts) {
  std::vector<std::string> problems;
  const source_table table = read_source(problems);
  ASSERT_TRUE(problems.empty());
  for (const language& row : language_table) {
    const bool has_texts = languages_with_texts.count(row.tag) != 0;
    SCOPED_TRACE(row.narrow_tag);
    sfx_translator translator(row.id);
    for (const std::wstring& id : identifiers) {
      const auto& texts = table.at(id);
      EXPECT_EQ(translator.translate(id), texts.at(has_texts ? row.tag : L"en-us")) << utils::to_narrow(id);
    }
  }
  for (const std::int32_t english_readers : {0x809, 0x80A, 0xC0C}) {
    EXPECT_EQ(sfx_translator(english_readers).translate(L"@Sfx_Starting"), L"starting");
  }
}

TEST(Translator, IdentifiersWithoutText_AndPlainMessages_ComeBackUnchanged) {
  sfx_translator german(0x407);
  for (const std::wstring text : {L"@Sfx_NoSuchText", L"SFX is not DSA signed!", L"Can't open 'sfx-info.xml'",
                                  L"x'] | //language[@lang='de-de", L"@Sfx_Title']/language[@lang='de-de"}) {
    EXPECT_EQ(german.translate(text), text);
    EXPECT_EQ(german.format(text, {L"A"}), text);
  }
  EXPECT_EQ(german.translate(L"@Sfx_PPI_Cancel"), L"Abbrechen");
  EXPECT_EQ(sfx_translator(0).translate(L"@Sfx_PPI_Cancel"), L"Cancel") << "an unknown language reads US English";
  EXPECT_EQ(sfx_translator(1234).translate(L"@Sfx_PPI_Cancel"), L"Cancel");
}

TEST(Translator, DutchTitle_HasTheProductNameInPlace) {
  EXPECT_EQ(sfx_translator(0x413).format(L"@Sfx_Title", {L"Orvek Free"}), L"Orvek Free – zelfuitpakkend archief");
  EXPECT_EQ(sfx_translator(0x409).format(L"@Sfx_PPI_Desc1", {L"Orvek"}), L"Ready to install Orvek?");
}

TEST(Translator, BrokenTable_YieldsTheIdentifiers) {
  const std::string not_xml = "<identifiers><identifier id='@Sfx_Starting'>";
  const std::vector<std::uint8_t> packed_not_xml =
      packers::lzma_packer().compress(std::span(reinterpret_cast<const std::uint8_t*>(not_xml.data()), not_xml.size()));
  const std::vector<std::uint8_t> garbage(64, 0x5A);
  for (const std::vector<std::uint8_t>& bytes : {std::vector<std::uint8_t>{}, garbage, packed_not_xml}) {
    sfx_translator translator(0x407, bytes);
    EXPECT_EQ(translator.translate(L"@Sfx_Starting"), L"@Sfx_Starting");
    EXPECT_EQ(translator.format(L"@Sfx_Title", {L"P"}), L"@Sfx_Title");
  }
}

TEST(Translator, Placeholders_AreFilledFromTheTextOnly) {
  const struct {
    const wchar_t* text;
    std::vector<std::wstring> arguments;
    const wchar_t* expected;
  } cases[] = {
      {L"{0} and {0}", {L"A"}, L"A and A"},
      {L"{1}-{0}", {L"A", L"B"}, L"B-A"},
      {L"{0} {1}", {L"a{1}", L"b"}, L"a{1} b"},
      {L"{1} stays without its argument", {L"A"}, L"{1} stays without its argument"},
      {L"{ {0 {x} {} {-1} {99999} {0}", {L"A"}, L"{ {0 {x} {} {-1} {99999} A"},
      {L"{{0}}", {L"A"}, L"{A}"},
      {L"no placeholders", {}, L"no placeholders"},
      {L"{0}", {}, L"{0}"},
  };
  for (const auto& c : cases) EXPECT_EQ(fill_placeholders(c.text, c.arguments), c.expected) << utils::to_narrow(c.text);
}

}  // namespace
}  // namespace vyn::sfx

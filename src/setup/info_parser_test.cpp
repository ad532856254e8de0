#include "setup/info_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/exceptions.h"
#include "foundation/strings.h"
#include "payload/payload.h"
#include "payload/payload_writer.h"
#include "payload/signature_testing.h"
#include "payload/testing/stub_image.h"
#include "payload/testing/test_support.h"
#include "setup/kestro_info.h"

namespace vyn::sfx {
namespace {

using bytes = std::vector<std::uint8_t>;

bytes bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

// The file as the maker's tool signs it: the text block as the document's last comment.
bytes signed_file(const std::string& xml, signature::key_kind kind = signature::key_kind::dsa, unsigned set = 7) {
  signature::sign_options options;
  options.form = signature::block_form::text;
  options.version = 2;
  options.xml_comment = true;
  return testing::sign(bytes_of(xml), options, set, kind, 0);
}

std::string document(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
         "<sfx-info xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
         "xsi:noNamespaceSchemaLocation=\"sfx-info.xsd\">\n" +
         body + "</sfx-info>\n";
}

const std::string one_product = "<products><product name=\"p\" channel=\"release\" version=\"1.0.0.1\"/></products>\n";

struct product_row {
  std::wstring name, channel, version;
  bool overridden;
  bool operator==(const product_row&) const = default;
};

std::ostream& operator<<(std::ostream& out, const product_row& row) {
  return out << utils::to_log(row.name) << "|" << utils::to_log(row.channel) << "|" << utils::to_log(row.version)
             << (row.overridden ? "|overridden" : "");
}

class InfoParser : public ::testing::Test {
 protected:
  // Builds a stub whose payload holds file under alias and opens it as the run's payload, with a
  // fresh setup information document and the command line given.
  void install(const bytes& file, const std::wstring& command = L"", const char* alias = "sfx-info.xml") {
    bytes image = testing::make_pe_image();
    append_file_record(image, alias, file);
    append_end_record(image);
    image.insert(image.end(), 72, 0x5A);
    const std::wstring path = (folder_ / (L"stub" + std::to_wstring(stubs_++) + L".exe")).wstring();
    testing::write_file(path, std::string(image.begin(), image.end()));
    context_.info = std::make_shared<kestro_info>();
    context_.payload = std::make_shared<payload>(path, context_);
    context_.cmd.parse(command, false);
    parser_ = std::make_unique<info_parser>(context_);
  }

  info_parser& parse(const std::string& xml, const std::wstring& command = L"") {
    install(signed_file(xml), command);
    parser_->parse();
    return *parser_;
  }

  // The setup information document's children behind the payload's own two elements.
  std::vector<pugi::xml_node> copies() {
    const std::wstring path = (folder_ / L"kestro-info.xml").wstring();
    EXPECT_TRUE(context_.info->save(path));
    saved_.load_file(path.c_str());
    std::vector<pugi::xml_node> nodes;
    for (pugi::xml_node child : saved_.child(L"kestro-info").children()) {
      if (std::wstring(child.name()) != L"file-list" && std::wstring(child.name()) != L"file-mapping-sfx") {
        nodes.push_back(child);
      }
    }
    return nodes;
  }

  std::vector<product_row> products() const {
    std::vector<product_row> rows;
    for (const auto& p : parser_->products()) rows.push_back({p.name, p.channel, p.version, p.channel_overridden});
    return rows;
  }

  // Runs parse and returns the text of the failure of type Expected; "" when it succeeded.
  template <typename Expected>
  std::string failure_of() {
    try {
      parser_->parse();
    } catch (const Expected& e) {
      return e.what();
    }
    return "";
  }

  testing::temp_folder folder_;
  int stubs_ = 0;
  shared_context context_;
  std::unique_ptr<info_parser> parser_;
  pugi::xml_document saved_;
};

TEST_F(InfoParser, TypicalFile_ReadsEveryValueAndCopiesTheRootChildrenInOrder) {
  const auto& parser = parse(document(
      "<config-def><url>https://cfg.example/x</url></config-def>\n"
      "<repository><base-url>repo.example/sfx</base-url></repository>\n"
      "<branding-data><base-url>brand.example</base-url></branding-data>\n"
      "<report><url>report.example/r</url></report>\n"
      "<params><silent>1</silent><nosplash>yes</nosplash><clear>no</clear></params>\n"
      "<products><product name=\"orvek\" channel=\"release\" version=\"23.4.15592.15612\"/></products>\n"
      "<title lang=\"en-us\">Orvek Setup</title>\n"));
  EXPECT_EQ(parser.repository_base_url(), L"repo.example/sfx");
  EXPECT_EQ(parser.branding_base_url(), L"brand.example");
  EXPECT_EQ(parser.report_url(), L"report.example/r");
  EXPECT_TRUE(parser.silent());
  EXPECT_TRUE(parser.nosplash());
  EXPECT_FALSE(parser.clear());
  EXPECT_FALSE(parser.offline());
  EXPECT_EQ(products(), (std::vector<product_row>{{L"orvek", L"release", L"23.4.15592.15612", false}}));
  EXPECT_EQ(parser.title(0x409), L"Orvek Setup");

  std::vector<std::wstring> names;
  for (const auto& node : copies()) names.push_back(node.name());
  EXPECT_EQ(names, (std::vector<std::wstring>{L"config-def", L"repository", L"branding-data", L"report", L"params",
                                              L"products", L"title"}));
  EXPECT_STREQ(copies()[0].child(L"url").text().get(), L"https://cfg.example/x");
}

TEST_F(InfoParser, DeclaredEncoding_DetectedAndFirstOfRepeatedValuesWins) {
  const auto& parser = parse(
      "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<sfx-info>"
      "<repository><other/></repository><repository><base-url>second-repository</base-url>"
      "<base-url>third</base-url></repository>" + one_product + "<title>Caf\xE9</title></sfx-info>\n");
  EXPECT_EQ(parser.title(0x409), L"Caf\u00E9");
  EXPECT_EQ(parser.repository_base_url(), L"second-repository");
  EXPECT_EQ(parser.branding_base_url(), L"");
  EXPECT_EQ(parser.report_url(), L"");
}

TEST_F(InfoParser, UnsignedOrAlteredFile_RefusedBeforeAnyXmlIsParsed) {
  const std::string valid = document(one_product);
  const std::string malformed = "<sfx-info><products><product name='p'";
  auto altered = [](bytes file, std::size_t from_end) {
    file[file.size() - from_end] ^= 0x01;
    return file;
  };
  const struct {
    const char* name;
    bytes file;
  } cases[] = {
      {"unsigned", bytes_of(valid)},
      {"unsigned malformed", bytes_of(malformed)},
      {"a signed byte changed", altered(signed_file(valid), 200)},
      {"a signature digit changed", altered(signed_file(valid), 20)},
      {"malformed and a signed byte changed", altered(signed_file(malformed), 160)},
      {"signed with a key of another set", signed_file(valid, signature::key_kind::dsa, 8)},
      {"empty", {}},
  };
  for (const auto& c : cases) {
    const testing::log_capture log;
    install(c.file);
    EXPECT_EQ(failure_of<exceptions::error>(), "File is not DSA signed (alias:sfx-info.xml)!") << c.name;
    EXPECT_EQ(log.count("DSA verification check of file 'sfx-info.xml' fail!"), 1) << c.name;
    EXPECT_EQ(log.count("Failed to parse xml file"), 0) << c.name;
    EXPECT_TRUE(copies().empty()) << c.name;
  }
}

TEST_F(InfoParser, SignedFileThatIsNoXml_MissingFileErrorWithTheParsersReason) {
  for (const char* xml : {"<sfx-info><products>", "plain text", "", "<a></b>", "<sfx-info><title lang=en-us>x</title></sfx-info>"}) {
    const testing::log_capture log;
    install(signed_file(xml));
    EXPECT_EQ(failure_of<exceptions::missign_sfx_file>(), "sfx info can't be parsed.") << xml;
    EXPECT_EQ(log.count("Failed to parse xml file 'sfx-info.xml', '"), 1) << xml;
    EXPECT_TRUE(copies().empty()) << xml;
  }
}

TEST_F(InfoParser, NoConfigurationInPayload_MissingFileError) {
  for (const bool without_payload : {false, true}) {
    const testing::log_capture log;
    install(signed_file(document(one_product)), L"", "SFX-INFO.XML");
    if (without_payload) context_.payload.reset();
    EXPECT_EQ(failure_of<exceptions::missign_sfx_file>(), "sfx info file wasn't found in payload.");
    EXPECT_EQ(log.count("Mandatory file 'sfx-info.xml' is missing in payload."), 1);
  }
}

TEST_F(InfoParser, Switches_TrueOnlyForTextStartingWithOneTrueOrYes) {
  const struct {
    const char* element;
    bool expected;
  } cases[] = {
      {"<silent>yes</silent>", true},   {"<silent>Yes</silent>", true}, {"<silent>true</silent>", true},
      {"<silent>1</silent>", true},     {"<silent>TRUE</silent>", true}, {"<silent>y</silent>", true},
      {"<silent><![CDATA[true]]></silent>", true},
      {"<silent>no</silent>", false},   {"<silent></silent>", false},   {"<silent/>", false},
      {"", false},                      {"<silent>0</silent>", false},  {"<silent>false</silent>", false},
      {"<silent> yes</silent>", false}, {"<silent>on</silent>", false}, {"<silent x='yes'/>", false},
  };
  for (const auto& c : cases) {
    parse(document(std::string("<params>") + c.element + "</params>" + one_product));
    EXPECT_EQ(parser_->silent(), c.expected) << c.element;
  }
  const auto& parser =
      parse(document("<params><silent>no</silent><nosplash>0</nosplash><clear>T</clear><offline>Y</offline></params>"
                     "<params><nosplash>1</nosplash></params>" + one_product));
  EXPECT_FALSE(parser.silent());
  EXPECT_FALSE(parser.nosplash());
  EXPECT_TRUE(parser.clear());
  EXPECT_TRUE(parser.offline());
}

TEST_F(InfoParser, Titles_ExactLanguageThenEnglishThenEmpty) {
  const struct {
    const char* titles;
    std::uint32_t lcid;
    const wchar_t* expected;
  } cases[] = {
      {"<title lang='de-de'>Deutsch</title><title lang='en-us'>English</title>", 0x407, L"Deutsch"},
      {"<title lang='de-de'>Deutsch</title><title lang='en-us'>English</title>", 0x419, L"English"},
      {"<title lang='de-de'>Deutsch</title><title lang='en-us'>English</title>", 0x409, L"English"},
      {"<title lang='de-de'>Deutsch</title>", 0x419, L""},
      {"<title lang='de-de'>Deutsch</title>", 0x409, L""},
      {"<title lang='DE-DE'>Capitals</title>", 0x409, L"Capitals"},
      {"<title lang='DE-DE'>Capitals</title>", 0x407, L"Capitals"},
      {"<title>No code</title><title lang='xx-yy'>Unknown code</title>", 0x409, L"No code"},
      {"<title lang='ru-ru'>Russian</title><title lang='ru-ru'>Again</title>", 0x419, L"Russian"},
      {"<title lang='zh-tw'>Traditional</title><title lang='sr-sp'>Serbian</title>", 0x404, L"Traditional"},
      {"<title lang='zh-tw'>Traditional</title><title lang='sr-sp'>Serbian</title>", 0x81A, L"Serbian"},
      {"<title lang='es-es'>Spain</title><title lang='en-us'>English</title>", 0x80A, L"English"},
      {"<title lang='en-us'/>", 0x407, L""},
  };
  for (const auto& c : cases) {
    parse(document(c.titles + one_product));
    EXPECT_EQ(parser_->title(c.lcid), c.expected) << c.titles << " for " << c.lcid;
  }
}

const std::string three_products = document(
    "<products><product name=\"a\" channel=\"release\" version=\"1.2.3.4\"/>"
    "<product name=\"b\" channel=\"beta\" version=\"5.6\"/><product name=\"c\" channel=\"stable\" version=\"7\"/>"
    "</products>");

TEST_F(InfoParser, ChannelsParameter_OverridesNamedProductsOnly) {
  const struct {
    const wchar_t* command;
    std::vector<product_row> expected;
  } cases[] = {
      {L"", {{L"a", L"release", L"1.2.3.4", false}, {L"b", L"beta", L"5.6", false}, {L"c", L"stable", L"7", false}}},
      {L"/channels:a=dev;b=nightly",
       {{L"a", L"dev", L"1.2.3.4", true}, {L"b", L"nightly", L"5.6", true}, {L"c", L"stable", L"7", false}}},
      {L"/CHANNELS=a=dev;a=canary",
       {{L"a", L"canary", L"1.2.3.4", true}, {L"b", L"beta", L"5.6", false}, {L"c", L"stable", L"7", false}}},
      {L"/channels:A=dev;x=y",
       {{L"a", L"release", L"1.2.3.4", false}, {L"b", L"beta", L"5.6", false}, {L"c", L"stable", L"7", false}}},
  };
  for (const auto& c : cases) {
    parse(three_products, c.command);
    EXPECT_EQ(products(), c.expected) << utils::to_log(c.command);
    // The document the setup engine reads keeps the channels of the file.
    EXPECT_STREQ(copies()[0].first_child().attribute(L"channel").value(), L"release");
  }
}

TEST_F(InfoParser, ChannelsParameterMalformed_FormatErrorAndNothingCopied) {
  for (const wchar_t* command : {L"/channels:a=dev;", L"/channels:a=dev;b", L"/channels:a=dev=x", L"/channels",
                                 L"/channels:;", L"/channels:b=1;;c=2"}) {
    install(signed_file(three_products), command);
    try {
      parser_->parse();
      ADD_FAILURE() << utils::to_log(command);
    } catch (const exceptions::error& e) {
      EXPECT_EQ(e.code(), 44030u) << utils::to_log(command);
      EXPECT_STREQ(e.what(), "Channel override has wrong format.");
    }
    EXPECT_TRUE(copies().empty()) << utils::to_log(command);
    EXPECT_TRUE(parser_->products().empty());
  }
}

TEST_F(InfoParser, NoUpdate_PinsProductsAndSubProductsInEntriesAndCopies) {
  const std::string xml = document(
      "<products>"
      "<product name=\"a\" channel=\"release\" version=\"23.4.15592.15612\"><sub-products>"
      "<product channel=\"beta\" version=\"9.8\"/><product channel=\"beta\"/><product version=\"1.1\"/>"
      "</sub-products></product>"
      "<product name=\"b\" channel=\"release\"/>"
      "</products>");
  const struct {
    const wchar_t* command;
    std::vector<product_row> expected;
  } cases[] = {
      {L"/noupdate", {{L"a", L"23/4/15592/15612/release", L"23.4.15592.15612", false}, {L"b", L"/release", L"", false}}},
      {L"/NoUpdate:ignored /channels:a=dev",
       {{L"a", L"dev", L"23.4.15592.15612", true}, {L"b", L"/release", L"", false}}},
  };
  for (const auto& c : cases) {
    parse(xml, c.command);
    EXPECT_EQ(products(), c.expected) << utils::to_log(c.command);
    const pugi::xml_node products_copy = copies()[0];
    const pugi::xml_node a = products_copy.first_child();
    EXPECT_STREQ(a.attribute(L"channel").value(), L"23/4/15592/15612/release");
    EXPECT_STREQ(a.next_sibling().attribute(L"channel").value(), L"/release");
    std::vector<std::wstring> subs;
    for (pugi::xml_node sub : a.child(L"sub-products").children()) subs.push_back(sub.attribute(L"channel").value());
    EXPECT_EQ(subs, (std::vector<std::wstring>{L"9/8/beta", L"/beta", L"1/1/"}));
  }
  // Without the parameter nothing is pinned.
  parse(xml, L"/channels:b=dev");
  EXPECT_STREQ(copies()[0].first_child().child(L"sub-products").first_child().attribute(L"channel").value(), L"beta");
}

TEST_F(InfoParser, Products_InDocumentOrderWithDuplicatesAndMissingAttributesEmpty) {
  parse(document(
      "<products><product name=\"b\" channel=\"x\" version=\"1\"/><product name=\"a\"/>"
      "<product name=\"b\" channel=\"y\" version=\"2\"/><group><product name=\"nested\"/></group></products>"
      "<products><product name=\"later\"/></products><product name=\"outside\"/>"));
  EXPECT_EQ(products(), (std::vector<product_row>{{L"b", L"x", L"1", false},
                                                  {L"a", L"", L"", false},
                                                  {L"b", L"y", L"2", false},
                                                  {L"later", L"", L"", false}}));
}

TEST_F(InfoParser, NoProductElement_ErrorAndNothingCopied) {
  for (const std::string& xml : {document("<products/>"), document("<product name='p'/>"),
                                "<other-root>" + one_product + "</other-root>"}) {
    install(signed_file(xml));
    EXPECT_EQ(failure_of<exceptions::error>(), "The sfx-info.xml does not contain any product data!") << xml;
    EXPECT_TRUE(copies().empty()) << xml;
  }
}

}  // namespace
}  // namespace vyn::sfx

#include "setup/product_info_parser.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/value_holder.h"
#include "foundation/exceptions.h"
#include "payload/testing/test_support.h"
#include "setup/condition_values.h"
#include "setup/running_brand.h"

namespace vyn::sfx {
namespace {

std::vector<std::uint8_t> bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

class ProductInfoParser : public ::testing::Test {
 protected:
  ProductInfoParser() : brand_(root::brand_kind::orvek) { context_.values = std::make_shared<value_holder>(); }

  void parse(const std::string& xml) { parser_.parse(bytes_of(xml)); }

  std::vector<std::wstring> file_names() const {
    std::vector<std::wstring> names;
    for (const auto& file : parser_.setup_files()) names.push_back(file.name);
    return names;
  }

  // The text a setup variable has in a context the parser makes now.
  std::wstring variable(const wchar_t* name) const { return parser_.make_context()->expander().expand(name); }

  repository::conditions::scoped_brand_override brand_;
  shared_context context_;
  product_info_parser parser_{context_};
};

TEST_F(ProductInfoParser, EmptyOrMalformedData_RaisesAndKeepsThePreviousContent) {
  const testing::log_capture log;
  parse("<product-info><name>p</name><setup-files><file><name>a.dll</name></file></setup-files></product-info>");
  const struct {
    std::string data;
    const char* message;
  } cases[] = {
      {"", "Product-info data are empty."},
      {"<product-info><name>q</name>", "Product-info data can't be parsed."},
      {"\xff\xfe<", "Product-info data can't be parsed."},
      {"just text", "Product-info data can't be parsed."},
  };
  for (const auto& c : cases) {
    try {
      parse(c.data);
      ADD_FAILURE() << c.data;
    } catch (const vyn::exceptions::error& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
    EXPECT_EQ(parser_.name(), L"p");
    EXPECT_EQ(file_names(), std::vector<std::wstring>{L"a.dll"});
  }
  EXPECT_EQ(log.count("Failed to parse product-info data, "), 3);
}

TEST_F(ProductInfoParser, SetupFiles_SelectedByTheConditionsOfGroupAndFile) {
  parse(R"(<?xml version="1.0" encoding="utf-8"?>
<product-info>
  <name>Product</name><version>1.2.3</version>
  <setup-files>
    <conditions><boolean value="false"/></conditions>
    <file><name>group-fails.dll</name></file>
  </setup-files>
  <setup-files>
    <file><name>plain.dll</name><sha-256>ab12</sha-256><timestamp>1700000000</timestamp><size>4096</size></file>
    <file><conditions><equals left="%KESTRO_IS_SFX%" right="1"/></conditions><name>sfx-only.dll</name></file>
    <file><conditions><boolean value="true"/></conditions><conditions2><boolean value="false"/></conditions2><name>second-fails.dll</name></file>
    <file><conditions><and/></conditions><name>undecidable.dll</name></file>
    <file><conditions2><not-brand name="orvek"/></conditions2><name>other-brand.dll</name></file>
    <other><name>not-a-file.dll</name></other>
    <file><name>no-numbers.dll</name><size>12kb</size><timestamp>soon</timestamp></file>
  </setup-files>
  <setup-files><conditions default="true"/><file><name>last.dll</name></file></setup-files>
</product-info>)");
  EXPECT_EQ(parser_.name(), L"Product");
  EXPECT_EQ(parser_.version(), L"1.2.3");
  EXPECT_EQ(file_names(), (std::vector<std::wstring>{L"plain.dll", L"sfx-only.dll", L"no-numbers.dll", L"last.dll"}));
  const file_info& plain = parser_.setup_files()[0];
  EXPECT_EQ(plain.sha256, L"ab12");
  EXPECT_EQ(plain.timestamp, 1700000000);
  EXPECT_EQ(plain.size, 4096);
  const file_info& odd = parser_.setup_files()[2];
  EXPECT_EQ(odd.size, 12);
  EXPECT_EQ(odd.timestamp, 0);
  EXPECT_EQ(parser_.setup_files()[1].timestamp, 0);
}

TEST_F(ProductInfoParser, NameAndVersion_EmptyWhenAbsent_AndEachParseReplacesTheLists) {
  parse("<product-info><setup-files><file><name>a</name></file></setup-files>"
        "<branding-files><file><url>u</url></file></branding-files></product-info>");
  EXPECT_EQ(parser_.setup_files().size(), 1u);
  EXPECT_EQ(parser_.branding_files().size(), 1u);
  parse("<product-info><name>n</name></product-info>");
  EXPECT_EQ(parser_.name(), L"n");
  EXPECT_EQ(parser_.version(), L"");
  EXPECT_TRUE(parser_.setup_files().empty());
  EXPECT_TRUE(parser_.branding_files().empty());
  parse("<other-root><name>x</name></other-root>");
  EXPECT_EQ(parser_.name(), L"");
}

TEST_F(ProductInfoParser, BrandingFiles_HashFieldsOnlyWithAHashUrl) {
  parse(R"(<product-info><branding-files>
    <file><url>https://b/logo.png</url><edat-alias>logo</edat-alias><name>logo.png</name>
      <hash-name>logo.sha</hash-name></file>
    <file><url>u2</url><name>n2</name><hash-url>h2</hash-url><hash-edat-alias>logo-hash</hash-edat-alias></file>
    <file><edat-alias></edat-alias><hash-url></hash-url></file>
    <file><conditions><boolean value="false"/></conditions><url>skipped</url></file>
  </branding-files></product-info>)");
  const auto& files = parser_.branding_files();
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[0].url, L"https://b/logo.png");
  EXPECT_EQ(files[0].edat_alias, L"logo.edat");
  EXPECT_EQ(files[0].name, L"logo.png");
  EXPECT_FALSE(files[0].hash_url || files[0].hash_edat_alias || files[0].hash_name);
  EXPECT_EQ(files[1].edat_alias, L".edat");
  EXPECT_EQ(files[1].hash_url, L"h2");
  EXPECT_EQ(files[1].hash_edat_alias, L"logo-hash.edat");
  EXPECT_EQ(files[1].hash_name, L"");
  EXPECT_EQ(files[2].url, L"");
  EXPECT_EQ(files[2].edat_alias, L".edat");
  EXPECT_EQ(files[2].hash_url, L"");
  EXPECT_EQ(files[2].hash_edat_alias, L".edat");
}

TEST_F(ProductInfoParser, SetupCommands_FirstWhoseConditionsHold) {
  parse(R"(<product-info>
    <setup-commands executable="first.exe"><conditions><boolean value="false"/></conditions></setup-commands>
    <setup-commands executable="second.exe"><conditions2><brand name="ORVEK"/></conditions2></setup-commands>
    <setup-commands executable="third.exe"/>
  </product-info>)");
  EXPECT_STREQ(parser_.setup_commands().attribute(L"executable").value(), L"second.exe");

  parse("<product-info><setup-commands executable='a.exe'><conditions><or/></conditions></setup-commands>"
        "</product-info>");
  const testing::log_capture log;
  EXPECT_TRUE(parser_.setup_commands().empty());
  EXPECT_EQ(log.count("The <setup-commands> element is not presented in product-info.xml!"), 1);
  parse("<product-info/>");
  EXPECT_TRUE(parser_.setup_commands().empty());
}

TEST_F(ProductInfoParser, Arm64Master_NeedsAMasterFileAndAnArm64ConditionAnywhere) {
  const struct {
    const char* xml;
    bool expected;
  } cases[] = {
      {"<product-info><setup-files><file><name>kestro.exe</name></file></setup-files>"
       "<setup-commands><conditions><os platform='arm64'/></conditions></setup-commands></product-info>", true},
      {"<product-info><setup-files><file><name>x/kestro.exe.sig</name></file></setup-files>"
       "<x><os platform='arm64'/></x></product-info>", true},
      {"<product-info><setup-files><file><name>kestro.exe</name></file></setup-files></product-info>", false},
      {"<product-info><setup-files><file><name>setup.exe</name></file></setup-files>"
       "<x><os platform='arm64'/></x></product-info>", false},
      {"<product-info><setup-files><file><name>kestro.exe</name></file></setup-files>"
       "<x><os platform='ARM64'/></x></product-info>", false},
      {"<product-info><setup-files><file><name>KESTRO.EXE</name></file></setup-files>"
       "<x><os platform='arm64'/></x></product-info>", false},
      // The text of a file's first <name> counts, all of it, and only that one.
      {"<product-info><setup-files><file><name>kes<i/>tro<![CDATA[.exe]]></name></file></setup-files>"
       "<x><os platform='arm64'/></x></product-info>", true},
      {"<product-info><setup-files><file><name>setup.exe</name><name>kestro.exe</name></file></setup-files>"
       "<x><os platform='arm64'/></x></product-info>", false},
      {"<product-info><os platform='x86'/><os platform='arm64'/><setup-files><file><name/></file>"
       "<file><name>kestro.exe</name></file></setup-files></product-info>", true},
  };
  for (const auto& c : cases) {
    parse(c.xml);
    EXPECT_EQ(parser_.has_arm64_master(), c.expected) << c.xml;
  }
}

TEST_F(ProductInfoParser, Context_HoldsTheSetupVariables) {
  EXPECT_EQ(variable(L"%KESTRO_IS_MAIN_PRODUCT%"), L"1");
  EXPECT_EQ(variable(L"%KESTRO_IS_SFX%"), L"1");
  EXPECT_EQ(variable(L"%KESTRO_IS_MASTER%"), L"1");
  EXPECT_EQ(variable(L"%KESTRO_SFX_ARCHITECTURE%"), L"x86");
  EXPECT_EQ(variable(L"%KESTRO_IS_SILENT%"), L"0");
}

TEST_F(ProductInfoParser, SilentVariable_FromTheConfigurationAndTheSilentSwitch) {
  const struct {
    bool configured;
    const wchar_t* command_line;
    const wchar_t* expected;
  } cases[] = {
      {false, L"", L"0"},
      {false, L"/silent", L"0"},
      {true, L"", L"1"},
      {true, L"/other", L"1"},
      {true, L"/SILENT", L"1"},
      {true, L"/silent:progress,splash", L"0"},
  };
  for (const auto& c : cases) {
    context_.values = std::make_shared<value_holder>();
    if (c.configured) context_.values->set_bool(L"silent", true);
    context_.cmd.parse(c.command_line, false);
    EXPECT_EQ(variable(L"%KESTRO_IS_SILENT%"), c.expected) << c.configured << c.command_line;
  }
}

TEST_F(ProductInfoParser, IntegerBeyond32Bits_EndsTheParseAndKeepsThePreviousContent) {
  parse("<product-info><name>old</name></product-info>");
  EXPECT_THROW(parse("<product-info><name>new</name><setup-files><file><conditions>"
                     "<os-at-least build='3000000000'/></conditions><name>a</name></file></setup-files>"
                     "</product-info>"),
               repository::conditions::narrowing_error);
  EXPECT_EQ(parser_.name(), L"old");
}

class ProductInfoSave : public ProductInfoParser {
 protected:
  std::string content() const { return testing::read_file(path_); }

  testing::temp_folder temp_;
  const std::wstring folder_ = temp_.path().wstring();
  const std::wstring path_ = folder_ + L"\\product-info.xml";
};

TEST_F(ProductInfoSave, SavedFile_IsByteIdenticalToTheParsedData) {
  const std::string original =
      "\xef\xbb\xbf<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
      "<product-info>\r\n  <name>P\xc3\xa4</name>\t\r\n  <setup-files/>\n</product-info>\r\n"
      "<!-- DSA:3045022100ab...signature... -->\r\n\r\n";
  parse(original);
  parser_.save(path_);
  EXPECT_EQ(content(), original);
  EXPECT_EQ(parser_.name(), L"P\u00e4");

  // A longer file of that name is replaced, not overwritten in place.
  const std::string shorter = "<product-info/>";
  parse(shorter);
  parser_.save(path_);
  EXPECT_EQ(content(), shorter);
}

TEST_F(ProductInfoSave, Utf16Data_IsDetectedAndSavedUnchanged) {
  const std::wstring text = L"\xfeff<product-info><name>wide</name></product-info>";
  const std::string original(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
  parse(original);
  EXPECT_EQ(parser_.name(), L"wide");
  parser_.save(path_);
  EXPECT_EQ(content(), original);
}

TEST_F(ProductInfoSave, FolderMissing_RaisesWithTheSystemCode) {
  parse("<product-info/>");
  const std::wstring path = folder_ + L"\\missing\\product-info.xml";
  try {
    parser_.save(path);
    ADD_FAILURE() << "saved";
  } catch (const vyn::exceptions::error& e) {
    EXPECT_EQ(e.code(), static_cast<std::uint32_t>(ERROR_PATH_NOT_FOUND));
    EXPECT_NE(std::string(e.what()).find("Unable to create file '"), std::string::npos);
  }
}

}  // namespace
}  // namespace vyn::sfx

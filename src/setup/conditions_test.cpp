#include <gtest/gtest.h>

#include <string>

#include "foundation/exceptions.h"
#include "payload/testing/test_support.h"
#include "setup/condition_containers.h"
#include "setup/condition_factory.h"
#include "setup/condition_values.h"
#include "setup/expander.h"

namespace vyn::repository::conditions {
namespace {

class Conditions : public ::testing::Test {
 protected:
  Conditions() : expander_(std::make_shared<light_expander>()), context_(std::make_shared<basic_factory>(), expander_) {
    expander_->set(L"%KESTRO_IS_SFX%", L"1");
    expander_->set(L"%PLATFORMS%", L"x86,x64,arm64");
  }

  // A root built from the document element of xml.
  std::unique_ptr<condition_root> build(const wchar_t* xml) {
    EXPECT_TRUE(document_.load_string(xml)) << xml;
    auto root = std::make_unique<condition_root>();
    root->build(document_.document_element(), context_);
    return root;
  }

  // "true", "false", or the message of the error evaluation raised.
  std::string outcome(const wchar_t* xml) {
    try {
      return build(xml)->evaluate(context_) ? "true" : "false";
    } catch (const vyn::exceptions::error& e) {
      return e.what();
    }
  }

  std::shared_ptr<light_expander> expander_;
  basic_context context_;
  pugi::xml_document document_;
};

struct outcome_case {
  const wchar_t* xml;
  const char* expected;
};

TEST_F(Conditions, AbsentOrEmptyConditions_HoldUnlessTheirDefaultIsFalse) {
  condition_root absent;
  absent.build(pugi::xml_node(), context_);
  EXPECT_TRUE(absent.evaluate(context_));
  const outcome_case cases[] = {
      {L"<conditions/>", "true"},
      {L"<conditions default='false'/>", "false"},
      {L"<conditions default='true'/>", "true"},
      {L"<conditions default='False'/>", "true"},
      {L"<conditions default='false'><boolean value='true'/><boolean value='true'/></conditions>", "false"},
      {L"<conditions default='true'><boolean value='false'/></conditions>", "false"},
      {L"<conditions>some text</conditions>", "true"},
  };
  for (const auto& c : cases) EXPECT_EQ(outcome(c.xml), c.expected) << c.xml;
}

TEST_F(Conditions, BooleanValue_IsExactlyTrueOrFalse_OtherwiseUndecidable) {
  const outcome_case cases[] = {
      {L"<c><boolean value='true'/></c>", "true"},
      {L"<c><boolean value='false'/></c>", "false"},
      {L"<c><boolean value='TRUE'/></c>", "The assertion failed for expression: m_value"},
      {L"<c><boolean value='1'/></c>", "The assertion failed for expression: m_value"},
      {L"<c><boolean/></c>", "The assertion failed for expression: m_value"},
      {L"<c><not-boolean value='true'/></c>", "false"},
      {L"<c><not-boolean value='yes'/></c>", "The assertion failed for expression: m_value"},
  };
  for (const auto& c : cases) EXPECT_EQ(outcome(c.xml), c.expected) << c.xml;
}

// An undecidable child (a boolean without value) placed after the deciding one is never reached.
TEST_F(Conditions, Containers_StopAtTheFirstDecidingChild) {
  const outcome_case cases[] = {
      {L"<c><and><boolean value='true'/><boolean value='true'/><boolean value='false'/><boolean/><boolean/></and></c>",
       "false"},
      {L"<c><and><boolean value='true'/><boolean/><boolean value='false'/></and></c>",
       "The assertion failed for expression: m_value"},
      {L"<c><or><boolean value='false'/><boolean value='true'/><boolean/></or></c>", "true"},
      {L"<c><or><boolean value='false'/><boolean value='false'/></or></c>", "false"},
      {L"<c><boolean value='false'/><boolean/></c>", "false"},
      {L"<c><not-and><boolean value='false'/><boolean/></not-and></c>", "true"},
      {L"<c><not-or><boolean value='true'/><boolean/></not-or></c>", "false"},
      {L"<c><not-or><boolean value='false'/><boolean value='false'/></not-or></c>", "true"},
      {L"<c><not><boolean value='false'/></not></c>", "true"},
      {L"<c><not-not><boolean value='false'/></not-not></c>", "false"},
      {L"<c><not-not><boolean value='true'/></not-not></c>", "true"},
  };
  for (const auto& c : cases) EXPECT_EQ(outcome(c.xml), c.expected) << c.xml;
}

TEST_F(Conditions, WrongNumberOfChildren_IsUndecidable) {
  const outcome_case cases[] = {
      {L"<c><and/></c>", "and: The XML element is missing required attributes!"},
      {L"<c><or/></c>", "or: The XML element is missing required attributes!"},
      {L"<c><not-and/></c>", "not-and: The XML element is missing required attributes!"},
      {L"<c><not-or/></c>", "not-or: The XML element is missing required attributes!"},
      {L"<c><not/></c>", "not: The XML element is missing required attributes!"},
      {L"<c><not><boolean value='true'/><boolean value='true'/></not></c>",
       "not: The XML element is missing required attributes!"},
      {L"<c><not-not/></c>", "not-not: The XML element is missing required attributes!"},
      // The only child is left out, so the container is empty.
      {L"<c><and><unknown/></and></c>", "and: The XML element is missing required attributes!"},
  };
  for (const auto& c : cases) EXPECT_EQ(outcome(c.xml), c.expected) << c.xml;
}

TEST_F(Conditions, Comparisons_NumericThenTextualUnlessVersion) {
  const outcome_case cases[] = {
      {L"<c><equals left='10' right='9'/></c>", "false"},
      {L"<c><greater-than left='10' right='9'/></c>", "true"},
      {L"<c><greater-than left='a10' right='a9'/></c>", "false"},
      {L"<c><less-than left='a10' right='a9'/></c>", "true"},
      {L"<c><greater-than type='VERSION' left='10.0.19045' right='10.0.9200'/></c>", "true"},
      {L"<c><equals type='version' left='1.2' right='1.2.0.0'/></c>", "true"},
      {L"<c><equals left='1.2' right='1.2.0.0'/></c>", "false"},
      {L"<c><equals left='Orvek' right='ORVEK'/></c>", "true"},
      {L"<c><less-than left='ab' right='ABC'/></c>", "true"},
      {L"<c><less-than left='_' right='a'/></c>", "true"},
      {L"<c><less-than left='-5' right='3'/></c>", "true"},
      {L"<c><equals left=' 7' right='+7'/></c>", "true"},
      {L"<c><greater-than type='numeric' left='1.2' right='1.10'/></c>", "true"},
      {L"<c><less-than type='Version' left='1.2' right='1.10'/></c>", "true"},
      {L"<c><equals left='%KESTRO_IS_SFX%' right='1'/></c>", "true"},
      {L"<c><equals left='%KESTRO_IS_SFX%' right='%KESTRO_IS_SFX%'/></c>", "true"},
      {L"<c><equals left=' %KESTRO_IS_SFX%' right='1'/></c>", "false"},
      {L"<c><not-equals left='2' right='02'/></c>", "false"},
      {L"<c><not-less-than left='5' right='5'/></c>", "true"},
      {L"<c><not-less-than left='4' right='5'/></c>", "false"},
      {L"<c><not-greater-than left='5' right='5'/></c>", "true"},
      {L"<c><not-greater-than left='6' right='5'/></c>", "false"},
      {L"<c><equals left='' right=''/></c>", "true"},
      {L"<c><equals right='1'/></c>", "The assertion failed for expression: m_left"},
      {L"<c><less-than left='1'/></c>", "The assertion failed for expression: m_right"},
      {L"<c><not-greater-than/></c>", "The assertion failed for expression: m_left"},
  };
  for (const auto& c : cases) EXPECT_EQ(outcome(c.xml), c.expected) << c.xml;

  const sfx::testing::log_capture log;
  outcome(L"<c><equals left='%KESTRO_IS_SFX%' right='1'/><less-than left='a10' right='A9'/></c>");
  EXPECT_EQ(log.count("condition_compare: left:'[%KESTRO_IS_SFX%]{1}' == right:'[1]{1}'"), 1);
  EXPECT_EQ(log.count("condition_compare: left:'[a10]{a10}' < right:'[A9]{A9}'"), 1);
}

TEST_F(Conditions, FindAndStartsWith_IgnoreCaseAndExpandVariables) {
  const outcome_case cases[] = {
      {L"<c><find string='x86,x64,arm64' substring='X64' inlist='true'/></c>", "true"},
      {L"<c><find string='x86,x64,arm64' substring='86' inlist='true'/></c>", "false"},
      {L"<c><find string='x86,x64,arm64' substring='86'/></c>", "true"},
      {L"<c><find string='x86,x64,arm64' substring='86' inlist='false'/></c>", "true"},
      {L"<c><find string='x86,x64,arm64' substring='86' inlist='TRUE'/></c>", "true"},
      {L"<c><find string='%PLATFORMS%' substring='ARM64' inlist='true'/></c>", "true"},
      {L"<c><find string='x86, x64' substring='x64' inlist='true'/></c>", "false"},
      {L"<c><find string='a,,b' substring='' inlist='true'/></c>", "true"},
      {L"<c><find string='a,b' substring='' inlist='true'/></c>", "false"},
      {L"<c><not-find string='abc' substring='B'/></c>", "false"},
      {L"<c><find substring='a'/></c>", "The assertion failed for expression: m_str"},
      {L"<c><find string='a'/></c>", "The assertion failed for expression: m_substring"},
      {L"<c><starts-with string='Windows 10' prefix='WIN'/></c>", "true"},
      {L"<c><starts-with string='Win' prefix='Windows'/></c>", "false"},
      {L"<c><starts-with string='%PLATFORMS%' prefix='X86,'/></c>", "true"},
      {L"<c><not-starts-with string='abc' prefix=''/></c>", "false"},
      {L"<c><starts-with prefix='a'/></c>", "The assertion failed for expression: m_str"},
      {L"<c><starts-with string='a'/></c>", "The assertion failed for expression: m_prefix"},
  };
  for (const auto& c : cases) EXPECT_EQ(outcome(c.xml), c.expected) << c.xml;

  const sfx::testing::log_capture log;
  outcome(L"<c><starts-with string='Windows 10' prefix='WIN'/><find string='%PLATFORMS%' substring='X64'/></c>");
  EXPECT_EQ(log.count("condition_starts_with: string:'Windows 10' prefix:'WIN' result=true"), 1);
  EXPECT_EQ(log.count("find: string:'x86,x64,arm64' substring:'X64' result=true"), 1);
}

TEST_F(Conditions, UnknownElements_AreDroppedUnlessUnsupportedSaysWhatToAssume) {
  const outcome_case cases[] = {
      {L"<c><future-test unsupported='true'/></c>", "true"},
      {L"<c><future-test unsupported='false'/></c>", "false"},
      {L"<c><future-test/></c>", "true"},
      {L"<c><future-test/><boolean value='false'/></c>", "false"},
      {L"<c><future-test unsupported='maybe'/></c>", "The assertion failed for expression: m_value"},
      {L"<c><future-test unsupported=''/></c>", "The assertion failed for expression: m_value"},
      {L"<c><AND unsupported='false'><boolean value='true'/></AND></c>", "false"},
      {L"<c><or><future-test unsupported='true'/><boolean/></or></c>", "true"},
      // A known element is built normally; its "unsupported" attribute does not matter.
      {L"<c><boolean value='false' unsupported='true'/></c>", "false"},
  };
  for (const auto& c : cases) EXPECT_EQ(outcome(c.xml), c.expected) << c.xml;

  const sfx::testing::log_capture log;
  outcome(L"<c><future-test unsupported='maybe'/><other/></c>");
  EXPECT_EQ(log.count("Unable to parse element 'future-test' as a condition!"), 1);
  EXPECT_EQ(log.count("Unknown condition, but 'unsupported' attribute present:'maybe'"), 1);
  EXPECT_EQ(log.count("Unable to parse element 'other' as a condition!"), 1);
}

TEST_F(Conditions, IntegerAttributeBeyond32Bits_EscapesBuildingAsNarrowingError) {
  for (const wchar_t* xml : {L"<c><os major='4294967296'/></c>",
                             L"<c><and><or><not><os-at-least build='-2147483649'/></not></or></and></c>",
                             L"<c><future-test unsupported='true'/><os-at-most sp='99999999999'/></c>"}) {
    EXPECT_THROW(build(xml), narrowing_error) << xml;
  }
}

TEST_F(Conditions, Factory_KnowsEveryKindAndItsNegation) {
  const basic_factory factory;
  for (const wchar_t* name : {L"not", L"and", L"or", L"boolean", L"os", L"os-at-least", L"os-at-most", L"file",
                              L"equals", L"less-than", L"greater-than", L"starts-with", L"brand", L"find"}) {
    EXPECT_NE(factory.create(name), nullptr) << name;
    EXPECT_NE(factory.create(std::wstring(L"not-") + name), nullptr) << name;
  }
  for (const wchar_t* name : {L"", L"conditions", L"Equals", L"not-", L"not-not-not", L"unsupported"}) {
    try {
      factory.create(name);
      ADD_FAILURE() << "created " << name;
    } catch (const vyn::exceptions::error& e) {
      EXPECT_EQ(std::string(e.what()), "Unable to parse element '" + std::string(name, name + wcslen(name)) +
                                           "' as a condition!");
    }
  }
}

TEST_F(Conditions, WrittenTree_BuildsAgainToTheSameConditions) {
  const auto root = build(
      L"<conditions default='true'><and><not-equals left='%KESTRO_IS_SFX%' right='0' type='x'/>"
      L"<find string='a,b' substring='B' inlist='true'/><os-at-least major='6' sp='1'/></and>"
      L"<file path='C:\\x' exists='false'/><future-test unsupported='true'/></conditions>");
  pugi::xml_document written;
  pugi::xml_node element = written.append_child(pugi::node_element);
  root->write(element);
  const pugi::xml_node and_node = written.child(L"conditions").child(L"and");
  EXPECT_STREQ(and_node.child(L"not-equals").attribute(L"type").value(), L"x");
  EXPECT_STREQ(and_node.child(L"find").attribute(L"inlist").value(), L"true");
  EXPECT_STREQ(and_node.child(L"os-at-least").attribute(L"sp").value(), L"1");
  EXPECT_FALSE(and_node.child(L"os-at-least").attribute(L"minor"));
  EXPECT_STREQ(written.child(L"conditions").child(L"file").attribute(L"type").value(), L"file");
  EXPECT_STREQ(written.child(L"conditions").child(L"boolean").attribute(L"value").value(), L"true");
  condition_root rebuilt;
  rebuilt.build(written.child(L"conditions"), context_);
  EXPECT_EQ(rebuilt.size(), 3u);
}

// Nesting far beyond any real description must neither exhaust the stack nor hang: the part
// nested too deeply is left out, which leaves its container empty and undecidable.
TEST_F(Conditions, ExtremelyDeepNesting_IsRefusedWithoutExhaustingTheStack) {
  constexpr int depth = 200000;
  std::wstring xml = L"<c>";
  for (int i = 0; i < depth; ++i) xml += L"<and>";
  xml += L"<boolean value='true'/>";
  for (int i = 0; i < depth; ++i) xml += L"</and>";
  xml += L"</c>";
  EXPECT_EQ(outcome(xml.c_str()), "and: The XML element is missing required attributes!");

  std::wstring shallow = L"<c>";
  for (int i = 0; i < 40; ++i) shallow += L"<not>";
  shallow += L"<boolean value='true'/>";
  for (int i = 0; i < 40; ++i) shallow += L"</not>";
  shallow += L"</c>";
  EXPECT_EQ(outcome(shallow.c_str()), "true");
}

}  // namespace
}  // namespace vyn::repository::conditions

#include "setup/xml_paths.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vyn::xml {
namespace {

pugi::xml_document parsed(const wchar_t* text, unsigned options = pugi::parse_default) {
  pugi::xml_document document;
  EXPECT_TRUE(document.load_string(text, options)) << "test document must parse";
  return document;
}

std::vector<std::wstring> texts(const std::vector<pugi::xml_node>& nodes) {
  std::vector<std::wstring> result;
  for (const pugi::xml_node& node : nodes) result.emplace_back(node.text().get());
  return result;
}

// Repeated parents, other names, and nodes that are not elements but carry the path's name.
constexpr const wchar_t* shop =
    L"<shop><shelf><item>1</item><other>x</other><item>2</item></shelf><?item pi?>"
    L"<shelf/><shelf><box><item>no</item></box><item>3</item></shelf></shop><shop><shelf><item>4</item></shelf></shop>";

TEST(XmlPaths, ElementsAt_TakesEveryMatchInDocumentOrderAndOnlyElements) {
  const pugi::xml_document document = parsed(shop, pugi::parse_default | pugi::parse_pi);
  EXPECT_EQ(texts(elements_at(document, L"shop/shelf/item")), (std::vector<std::wstring>{L"1", L"2", L"3", L"4"}));
  EXPECT_EQ(texts(elements_at(document, L"shop/item")), std::vector<std::wstring>{}) << "the PI is no element";
  EXPECT_EQ(elements_at(document, L"shop/shelf").size(), 4u);
  EXPECT_TRUE(elements_at(document, L"shelf/item").empty()) << "paths start at the node's children";
  EXPECT_TRUE(elements_at(document, L"shop/shelf/ite").empty());
  EXPECT_TRUE(elements_at(document, L"shop//item").empty());

  EXPECT_EQ(std::wstring(element_at(document, L"shop/shelf/item").text().get()), L"1");
  EXPECT_EQ(std::wstring(element_at(document, L"shop/shelf/box/item").text().get()), L"no");
  EXPECT_FALSE(element_at(document, L"shop/shelf/none"));
  EXPECT_FALSE(element_at(pugi::xml_node(), L"shop"));
  // The first match may sit under a later parent: the empty second shelf is passed over.
  const pugi::xml_document later = parsed(L"<a><b/><b><c>here</c></b></a>");
  EXPECT_EQ(std::wstring(element_at(later, L"a/b/c").text().get()), L"here");
  EXPECT_EQ(std::wstring(element_at(later.child(L"a"), L"b/c").text().get()), L"here");
}

TEST(XmlPaths, HasAttribute_ComparesWholeValuesOfEveryAttributeOfThatName) {
  const pugi::xml_document document = parsed(L"<e id='one' lang='en-us' id='two' ID='three' empty=''/>");
  const pugi::xml_node e = document.first_child();
  EXPECT_TRUE(has_attribute(e, L"id", L"one"));
  EXPECT_TRUE(has_attribute(e, L"id", L"two")) << "a repeated attribute is still an attribute";
  EXPECT_FALSE(has_attribute(e, L"id", L"three"));
  EXPECT_FALSE(has_attribute(e, L"id", L"on"));
  EXPECT_FALSE(has_attribute(e, L"lang", L"en"));
  EXPECT_TRUE(has_attribute(e, L"empty", L""));
  EXPECT_FALSE(has_attribute(e, L"missing", L""));
}

TEST(XmlPaths, StringValue_JoinsAllCharacterDataBelowTheNode) {
  const pugi::xml_document document = parsed(L"<r>a<b>b<c/>c</b><!--no--><![CDATA[d]]>e</r><s>f</s>");
  EXPECT_EQ(string_value(document.child(L"r")), L"abcde");
  EXPECT_EQ(string_value(document), L"abcdef");
  EXPECT_EQ(string_value(document.child(L"r").child(L"b").first_child()), L"b");
  EXPECT_EQ(string_value(document.child(L"r").child(L"b").child(L"c")), L"");
  EXPECT_EQ(string_value(pugi::xml_node()), L"");
}

TEST(XmlPaths, DeeplyNestedDocument_IsWalkedWithoutExhaustingTheStack) {
  constexpr int depth = 200000;
  std::wstring text;
  for (int i = 0; i < depth; ++i) text += L"<d>";
  text += L"x";
  for (int i = 0; i < depth; ++i) text += L"</d>";
  const pugi::xml_document document = parsed(text.c_str());
  EXPECT_EQ(string_value(document), L"x");
  int elements = 0;
  for (pugi::xml_node node = document.first_child(); node; node = next_in_document(node, document)) {
    elements += is_element(node, L"d") ? 1 : 0;
  }
  EXPECT_EQ(elements, depth);
}

#ifndef PUGIXML_NO_XPATH
// Where pugixml carries its XPath engine (the host build), the walks must select what the
// corresponding XPath selects.
TEST(XmlPaths, AgreesWithXPathOnChildPaths) {
  const pugi::xml_document document = parsed(shop, pugi::parse_default | pugi::parse_pi);
  for (const wchar_t* path : {L"shop", L"shop/shelf", L"shop/shelf/item", L"shop/shelf/box/item", L"shop/item",
                              L"shop/shelf/other", L"nothing/here"}) {
    std::vector<pugi::xml_node> expected;
    for (const pugi::xpath_node& found : document.select_nodes(path)) expected.push_back(found.node());
    EXPECT_EQ(elements_at(document, path), expected) << path;
    EXPECT_EQ(element_at(document, path), document.select_node(path).node()) << path;
  }
  const pugi::xpath_query string_of(L"string(.)");
  for (const pugi::xml_node& node : elements_at(document, L"shop/shelf")) {
    wchar_t text[64] = {};
    ASSERT_LE(string_of.evaluate_string(text, 64, pugi::xpath_node(node)), 64u);
    EXPECT_EQ(string_value(node), text);
  }
}
#endif

}  // namespace
}  // namespace vyn::xml

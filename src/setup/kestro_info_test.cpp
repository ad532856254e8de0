#include "setup/kestro_info.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "payload/testing/test_support.h"

namespace vyn::sfx {
namespace {

using testing::read_file;

class KestroInfo : public ::testing::Test {
 protected:
  std::wstring file(const wchar_t* name) const { return (folder_ / name).wstring(); }

  testing::temp_folder folder_;
  kestro_info info_;
};

TEST_F(KestroInfo, EmptyDocument_SavesDeclarationAndEmptyRoot) {
  ASSERT_TRUE(info_.save(file(L"kestro-info.xml")));
  EXPECT_EQ(read_file(file(L"kestro-info.xml")),
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
            "<kestro-info xmlns:xs=\"http://www.w3.org/2001/XMLSchema-instance\" />\n");
}

TEST_F(KestroInfo, SaveIntoMissingFolder_ReturnsFalse) {
  EXPECT_FALSE(info_.save(file(L"missing/kestro-info.xml")));
}

TEST_F(KestroInfo, AppendedElements_SavedInCallOrderWithTabsAsUtf8WithoutBom) {
  pugi::xml_document source;
  auto list = source.append_child(L"file-list");
  list.append_child(L"file").append_child(L"alias").text() = L"sfx-info.xml";
  info_.append_copy(list);
  pugi::xml_document other;
  auto cmd = other.append_child(L"sfx-cmd");
  cmd.text() = L"/silent caf\u00e9";
  info_.append_copy(cmd);

  EXPECT_FALSE(source.child(L"file-list").empty()) << "the caller keeps its node";
  ASSERT_TRUE(info_.save(file(L"k.xml")));
  EXPECT_EQ(read_file(file(L"k.xml")),
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
            "<kestro-info xmlns:xs=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
            "\t<file-list>\n"
            "\t\t<file>\n"
            "\t\t\t<alias>sfx-info.xml</alias>\n"
            "\t\t</file>\n"
            "\t</file-list>\n"
            "\t<sfx-cmd>/silent caf\xC3\xA9</sfx-cmd>\n"
            "</kestro-info>\n");
}

TEST_F(KestroInfo, MoveOfForeignNode_LeavesDocumentUnchanged) {
  pugi::xml_document other;
  auto node = other.append_child(L"cookie");
  info_.append_move(node);
  EXPECT_FALSE(other.child(L"cookie").empty());
  ASSERT_TRUE(info_.save(file(L"k.xml")));
  EXPECT_EQ(read_file(file(L"k.xml")).find("cookie"), std::string::npos);
}

TEST_F(KestroInfo, ConcurrentAppends_AllArrive) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([this] {
      pugi::xml_document source;
      auto node = source.append_child(L"cookie");
      node.text() = L"x";
      for (int i = 0; i < 200; ++i) info_.append_copy(node);
    });
  }
  for (auto& thread : threads) thread.join();
  ASSERT_TRUE(info_.save(file(L"k.xml")));
  const std::string text = read_file(file(L"k.xml"));
  std::size_t count = 0;
  for (auto at = text.find("<cookie>"); at != std::string::npos; at = text.find("<cookie>", at + 1)) ++count;
  EXPECT_EQ(count, 800u);
}

}  // namespace
}  // namespace vyn::sfx

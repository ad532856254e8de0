#include "key_folder.h"

#include <gtest/gtest.h>

#include "command.h"
#include "tool_test_support.h"

namespace vyn::tool {
namespace {

class KeyFolderTest : public test::temp_dir_test {
 protected:
  void write_index(const std::string& text) { test::write_text(path("keys.txt"), text); }

  exit_code failure_of(const std::function<void()>& action) {
    try {
      action();
    } catch (const tool_error& e) {
      return e.code();
    }
    return exit_ok;
  }
};

TEST_F(KeyFolderTest, Index_EntriesAreNumberedPerSetAndKind) {
  write_index("# comment\n7 dsa a\n7 ecdsa b\n 7 dsa c  # trailing\n\n8 dsa d\n");
  const key_folder folder(dir_);
  ASSERT_EQ(folder.entries().size(), 4u);
  EXPECT_EQ(folder.find(7, "dsa:1").name, "c");
  EXPECT_EQ(folder.find(7, "ecdsa:0").name, "b");
  EXPECT_EQ(folder.find(8, "dsa:0").name, "d");
  EXPECT_EQ(folder.find(7, "a").index, 0u);
  EXPECT_EQ(folder.private_file(folder.find(7, "a")), dir_ / "a.pem");
}

TEST_F(KeyFolderTest, MalformedIndexOrSelector_IsAKeyError) {
  const char* bad_indexes[] = {"7 rsa a\n", "7 dsa\n", "x dsa a\n", "7 dsa a b\n", "7 dsa a\n7 ecdsa a\n",
                               "300 dsa a\n", "7 dsa a/b\n", "# only comments\n"};
  for (const char* text : bad_indexes) {
    write_index(text);
    EXPECT_EQ(failure_of([&] { (void)key_folder{dir_}; }), exit_key) << text;
  }
  std::filesystem::remove(path("keys.txt"));
  EXPECT_EQ(failure_of([&] { (void)key_folder{dir_}; }), exit_key);

  write_index("7 dsa a\n8 ecdsa b\n");
  const key_folder folder(dir_);
  for (const char* selector : {"dsa:1", "ecdsa:0", "rsa:0", "dsa:x", "dsa:", "b", "nothing"}) {
    EXPECT_EQ(failure_of([&] { folder.find(7, selector); }), exit_key) << selector;
  }
}

TEST_F(KeyFolderTest, PublicFiles_RoundTripAndRefuseWrongSizes) {
  write_index("7 dsa a\n7 ecdsa b\n");
  const key_folder folder(dir_);
  public_values dsa;
  dsa.p.assign(256, 0x81);
  dsa.q.assign(32, 0x92);
  dsa.g.assign(256, 0x03);
  dsa.y.assign(256, 0x04);
  public_values ec;
  ec.point.assign(65, 0x05);
  ec.point[0] = 0x04;
  test::write_text(path("a.pub"), format_public(key_kind::dsa, dsa));
  test::write_text(path("b.pub"), format_public(key_kind::ecdsa, ec));
  const auto read_dsa = folder.read_public(folder.find(7, "a"));
  EXPECT_EQ(read_dsa.p, dsa.p);
  EXPECT_EQ(read_dsa.y, dsa.y);
  EXPECT_EQ(folder.read_public(folder.find(7, "b")).point, ec.point);

  const std::string p_hex = std::string(512, 'a');
  const char* bad_dsa[] = {"p aa\n", "q 00\n", "x 00\n", "p zz\n"};
  for (const char* text : bad_dsa) {
    test::write_text(path("a.pub"), text);
    EXPECT_EQ(failure_of([&] { folder.read_public(folder.find(7, "a")); }), exit_key) << text;
  }
  test::write_text(path("a.pub"), "p " + p_hex + "\np " + p_hex + "\n");
  EXPECT_EQ(failure_of([&] { folder.read_public(folder.find(7, "a")); }), exit_key);
  test::write_text(path("b.pub"), "point 04" + std::string(126, '1') + "\n");  // 64 bytes
  EXPECT_EQ(failure_of([&] { folder.read_public(folder.find(7, "b")); }), exit_key);
  std::filesystem::remove(path("b.pub"));
  EXPECT_EQ(failure_of([&] { folder.read_public(folder.find(7, "b")); }), exit_key);
}

TEST(KeyFolderDevTest, DevelopmentFolder_MatchesTheBuiltInKeyTable) {
  const key_folder folder(test::key_dir());
  for (const auto& entry : folder.entries()) {
    const auto values = folder.read_public(entry);
    const auto& set = sfx::keys::build_key_set(entry.set);
    if (entry.kind == key_kind::dsa) {
      ASSERT_LT(entry.index, set.dsa.size());
      const auto& built_in = set.dsa[entry.index];
      EXPECT_TRUE(std::equal(values.y.begin(), values.y.end(), built_in.y.begin(), built_in.y.end())) << entry.name;
      EXPECT_TRUE(std::equal(values.p.begin(), values.p.end(), built_in.p.begin(), built_in.p.end())) << entry.name;
    } else {
      ASSERT_LT(entry.index, set.ecdsa.size());
      const auto& built_in = set.ecdsa[entry.index];
      EXPECT_TRUE(std::equal(values.point.begin(), values.point.end(), built_in.begin(), built_in.end())) << entry.name;
    }
  }
}

}  // namespace
}  // namespace vyn::tool

// publish as a maker uses it: the repository objects are read back the way the stub's downloader
// checks them (signature of the download, unpacking, signature of the document, SHA-256 of the
// setup file), and decoded with xz, a decoder we did not write.

#include <gtest/gtest.h>

#include <string>

#include "exit_codes.h"
#include "foundation/sha256.h"
#include "payload/lzma_codec.h"
#include "payload/signature_check.h"
#include "tool_test_support.h"

namespace vyn::tool {
namespace {

using test::quote;
using test::run;
using test::sfxtool;

std::string sha256_of(const std::string& text) {
  root::sha256 hash;
  return root::digest_of(hash, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())).hex();
}

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string universe_path(const std::string& h) {
  return "universe/" + h.substr(0, 4) + "/" + h.substr(4, 4) + "/" + h.substr(8, 4) + "/" + h + ".lzma";
}

std::string file_element(const std::string& name, const std::string& sha, const std::string& size) {
  return "    <file><name>" + name + "</name><sha-256>" + sha + "</sha-256><timestamp>5</timestamp><size>" + size +
         "</size></file>\r\n";
}

// xz decodes the packed stream in front of the object's 72-byte signature block to the expected
// file (xz itself refuses bytes behind a stream of known size; the stub's decoder stops at the
// declared size).
void expect_xz_decodes(const std::filesystem::path& object, const std::filesystem::path& expected) {
  const auto packed = test::read_bytes(object);
  const auto stream = object.string() + ".stream";
  test::write_bytes(stream, std::vector<std::uint8_t>(packed.begin(), packed.end() - 72));
  const auto r = run("xz --format=lzma -dc " + quote(stream) + " > " + quote(stream + ".out") + " && cmp " +
                     quote(stream + ".out") + " " + quote(expected));
  EXPECT_EQ(r.code, 0) << object << ": " << r.output;
  std::filesystem::remove(stream);
  std::filesystem::remove(stream + ".out");
}

class PublishTest : public test::temp_dir_test {
 protected:
  void SetUp() override {
    temp_dir_test::SetUp();
    std::filesystem::create_directories(path("product"));
    for (int i = 0; i < 4000; ++i) setup_ += static_cast<char>((i * 7919) % 251);
    test::write_text(path("product/setup.bin"), setup_);
    test::write_text(path("product/kestro.exe"), "master");
  }

  // A description with a conditional group and a file listed in both groups.
  std::string description(const std::string& setup_sha, const std::string& setup_size) const {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<!-- product description -->\r\n<product-info>\r\n"
           "  <name>demo</name>\r\n  <version>1.2.3.4</version>\r\n  <setup-files>\r\n" +
           file_element("setup.bin", setup_sha, setup_size) +
           file_element("kestro.exe", sha256_of("master"), "6") +
           "  </setup-files>\r\n  <setup-files>\r\n    <conditions><os platform=\"arm64\"/></conditions>\r\n" +
           file_element("kestro.exe", sha256_of("master"), "6") + "  </setup-files>\r\n</product-info>\r\n";
  }

  test::run_result publish(const std::string& args) {
    return run("cd " + quote(dir_) + " && " + sfxtool() + " publish --keys " + quote(test::key_dir()) +
               " --key ecdsa:0 " + args + " product repo");
  }

  std::string setup_;
};

TEST_F(PublishTest, Repository_ObjectsPassTheDownloadersChecks) {
  const std::string setup_sha = upper(sha256_of(setup_));  // the path keeps the description's letter case
  const std::string text = description(setup_sha, std::to_string(setup_.size()));
  test::write_text(path("product/product-info.xml"), text);
  const auto r = publish("--channel 23/4/release");
  ASSERT_EQ(r.code, exit_ok) << r.output;

  const auto object = test::read_bytes(path("repo/defs/demo/23/4/release.xml.lzma"));
  EXPECT_TRUE(sfx::signature::is_signed(object, 7)) << "the download itself is signed";
  const auto document = packers::lzma_decompress(object);
  EXPECT_TRUE(sfx::signature::is_signed(document, 7)) << "the unpacked document carries its own signature";
  const std::string signed_text(document.begin(), document.end());
  EXPECT_EQ(signed_text.substr(0, text.size()), text) << "signed as written";
  EXPECT_EQ(signed_text.substr(signed_text.size() - 14), "VYNSig3A -->\r\n");
  EXPECT_EQ(test::read_bytes(path("repo/defs/demo/23/4/release.xml")), document) << "the payload copy";
  expect_xz_decodes(path("repo/defs/demo/23/4/release.xml.lzma"), path("repo/defs/demo/23/4/release.xml"));

  const std::pair<std::string, std::string> setup_files[] = {{setup_sha, "setup.bin"},
                                                             {sha256_of("master"), "kestro.exe"}};
  for (const auto& [sha, name] : setup_files) {
    const auto object = path("repo/" + universe_path(sha));
    const auto packed = test::read_bytes(object);
    EXPECT_TRUE(sfx::signature::is_signed(packed, 7)) << sha;
    EXPECT_EQ(packers::lzma_decompress(packed), test::read_bytes(path("product/" + name))) << sha;
    expect_xz_decodes(object, path("product/" + name));
  }
  std::size_t objects = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(path("repo/universe"))) {
    objects += entry.is_regular_file();
  }
  EXPECT_EQ(objects, 2u) << "one object per hash, whatever the groups";
}

TEST_F(PublishTest, Fill_WritesHashesAndSizesIntoThePublishedCopyOnly) {
  const std::string text = description("", "");
  test::write_text(path("product/product-info.xml"), text);
  const auto r = publish("--channel release --product other --fill");
  ASSERT_EQ(r.code, exit_ok) << r.output;
  EXPECT_EQ(test::read_bytes(path("product/product-info.xml")).size(), text.size()) << "the original stays";
  const auto document = test::read_bytes(path("repo/defs/other/release.xml"));
  const std::string published(document.begin(), document.end());
  const std::string filled = description(sha256_of(setup_), std::to_string(setup_.size()));
  EXPECT_EQ(published.substr(0, published.find("<!-- VYNSig")), filled) << "comments and CR LF kept";
  EXPECT_TRUE(sfx::signature::is_signed(document, 7));
  EXPECT_TRUE(std::filesystem::exists(path("repo/" + universe_path(sha256_of(setup_)))));
}

TEST_F(PublishTest, MismatchesAndBadInputs_AreRefusedAndWriteNothing) {
  const std::string right_sha = sha256_of(setup_), right_size = std::to_string(setup_.size());
  struct failure {
    std::string description;
    std::string args;
    int code;
    std::string message;
  };
  const std::string with_bad_name = description(right_sha, right_size);
  const failure failures[] = {
      {description(sha256_of("other"), right_size), "--channel release", exit_refused, "the file has " + right_sha},
      {description(right_sha, "12"), "--channel release", exit_refused, "<size> says '12'"},
      {description(right_sha.substr(1), right_size), "--channel release", exit_refused, "not 64 hexadecimal digits"},
      {description(right_sha, right_size) + "<!-- VYNSig2A" + std::string(128, '0') + "VYNSig2A -->",
       "--channel release", exit_refused, "already ends in a signature block"},
      {"<product-info><name>demo</name>", "--channel release", exit_refused, "not an XML document"},
      {"<product-info><name>demo</name><setup-files>" + file_element("../x", right_sha, right_size) +
           "</setup-files></product-info>", "--channel release", exit_refused, "'../x' is not a plain file name"},
      {"<product-info><name>demo</name><setup-files>" + file_element("gone.bin", right_sha, right_size) +
           "</setup-files></product-info>", "--channel release", exit_refused, "'gone.bin' is missing"},
      {"<product-info><setup-files/></product-info>", "--channel release", exit_usage, "has no <name>"},
      {description(right_sha, right_size), "--channel ../up", exit_usage, "the channel '../up'"},
      {description(right_sha, right_size), "--channel release --product 'a b'", exit_usage, "the product name 'a b'"},
      {description(right_sha, right_size), "", exit_usage, "needs --channel"},
  };
  for (const auto& f : failures) {
    test::write_text(path("product/product-info.xml"), f.description);
    const auto r = publish(f.args);
    EXPECT_EQ(r.code, f.code) << f.args << ": " << r.output;
    EXPECT_NE(r.output.find(f.message), std::string::npos) << f.args << ": " << r.output;
    EXPECT_FALSE(std::filesystem::exists(path("repo"))) << f.args;
  }
  // A repository for testing the stub's checksum check: the content under the described hash.
  test::write_text(path("product/product-info.xml"), description(sha256_of("other"), right_size));
  const auto r = publish("--channel release --allow-mismatch");
  ASSERT_EQ(r.code, exit_ok) << r.output;
  EXPECT_NE(r.output.find("warning:"), std::string::npos) << r.output;
  const auto unpacked = packers::lzma_decompress(test::read_bytes(path("repo/" + universe_path(sha256_of("other")))));
  EXPECT_EQ(std::string(unpacked.begin(), unpacked.end()), setup_);
}

}  // namespace
}  // namespace vyn::tool

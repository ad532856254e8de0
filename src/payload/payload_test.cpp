#include "payload/payload.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "foundation/exceptions.h"
#include "foundation/sha256.h"
#include "foundation/strings.h"
#include "payload/lzma_codec.h"
#include "payload/payload_writer.h"
#include "payload/testing/stub_image.h"
#include "payload/testing/test_support.h"
#include "setup/kestro_info.h"

namespace vyn::sfx {
namespace {

namespace fs = std::filesystem;
using bytes = std::vector<std::uint8_t>;

std::span<const std::uint8_t> as_bytes(std::string_view s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

std::wstring sha_text(std::string_view content) {
  root::sha256 hash;
  return root::digest_of(hash, as_bytes(content)).whex();
}

std::array<std::uint8_t, 32> sha_bytes(const std::string& hex) {
  std::array<std::uint8_t, 32> out{};
  const root::digest d{std::string_view(hex)};
  std::copy(d.bytes().begin(), d.bytes().end(), out.begin());
  return out;
}

class Payload : public ::testing::Test {
 protected:
  Payload() : image_(testing::make_pe_image()) { context_.info = std::make_shared<kestro_info>(); }

  std::wstring stub_path() const { return (folder_ / L"stub.exe").wstring(); }
  std::wstring path(const wchar_t* name) const { return (folder_ / name).wstring(); }

  std::unique_ptr<payload> build(bool end_record = true) {
    if (end_record) {
      append_end_record(image_);
      image_.insert(image_.end(), 72, 0x5A);  // signature block, never read by the payload
    }
    testing::write_file(stub_path(), std::string(image_.begin(), image_.end()));
    return std::make_unique<payload>(stub_path(), context_);
  }

  // The saved setup information document.
  pugi::xml_document saved_info() {
    EXPECT_TRUE(context_.info->save(path(L"kestro-info.xml")));
    pugi::xml_document doc;
    EXPECT_TRUE(doc.load_file(path(L"kestro-info.xml").c_str()));
    return doc;
  }

  testing::temp_folder folder_;
  bytes image_;
  shared_context context_;
};

TEST_F(Payload, Records_PublishedInSetupInformationInPayloadOrder) {
  record_fields fields;
  fields.type = record_type_config;
  fields.timestamp = 1700000000;
  fields.alias = "sfx-info.xml";
  fields.sha256 = sha_bytes(std::string(64, 'a'));
  append_record(image_, fields, as_bytes("<sfx-info/>"));
  append_file_record(image_, "", as_bytes("by hash"), true);
  const auto index = build();

  const auto doc = saved_info();
  const auto root = doc.child(L"kestro-info");
  const auto list = root.first_child();
  ASSERT_STREQ(list.name(), L"file-list");
  std::vector<std::wstring> names;
  for (auto child : list.first_child().children()) names.push_back(child.name());
  EXPECT_EQ(names, (std::vector<std::wstring>{L"alias", L"sha-256", L"offset", L"size", L"timestamp", L"flags"}));
  const auto first = list.first_child();
  EXPECT_STREQ(first.child_value(L"alias"), L"sfx-info.xml");
  EXPECT_EQ(std::wstring(first.child_value(L"sha-256")), std::wstring(64, L'a'));
  EXPECT_EQ(std::wstring(first.child_value(L"offset")), std::to_wstring(0x600 + 58 + 12));
  EXPECT_STREQ(first.child_value(L"size"), L"11");
  EXPECT_STREQ(first.child_value(L"timestamp"), L"1700000000");
  EXPECT_STREQ(first.child_value(L"flags"), L"0");
  const auto second = first.next_sibling();
  EXPECT_STREQ(second.child_value(L"alias"), L"");
  EXPECT_STREQ(second.child_value(L"flags"), L"1");
  EXPECT_TRUE(second.next_sibling().empty());

  const auto mapping = list.next_sibling();
  ASSERT_STREQ(mapping.name(), L"file-mapping-sfx");
  wchar_t handle_text[32];
  swprintf(handle_text, 32, L"%llx", static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(index->file_handle())));
  EXPECT_STREQ(mapping.child_value(L"handle"), handle_text);
  EXPECT_EQ(std::wstring(mapping.child_value(L"size")), std::to_wstring(fs::file_size(stub_path())));
  DWORD flags = 0;
  ASSERT_TRUE(::GetHandleInformation(index->file_handle(), &flags));
  EXPECT_TRUE(flags & HANDLE_FLAG_INHERIT);
}

TEST_F(Payload, NoRecords_StillPublishesEmptyListAndMapping) {
  const auto index = build(false);
  const auto root = saved_info().child(L"kestro-info");
  EXPECT_TRUE(root.child(L"file-list").first_child().empty());
  EXPECT_FALSE(root.child(L"file-list").empty());
  EXPECT_FALSE(root.child(L"file-mapping-sfx").empty());
  EXPECT_TRUE(index->aliases().empty());
}

TEST_F(Payload, NoSetupInformation_IndexesWithoutPublishing) {
  context_.info.reset();
  append_file_record(image_, "a", as_bytes("x"));
  const auto index = build();
  EXPECT_TRUE(index->find_by_alias(L"a"));
}

TEST_F(Payload, DuplicateAliasAndHash_LaterRecordWinsAndBothListed) {
  append_file_record(image_, "sfx-info.xml", as_bytes("first"));
  append_file_record(image_, "sfx-info.xml", as_bytes("second"));
  append_file_record(image_, "", as_bytes("same"));
  append_file_record(image_, "", as_bytes("same"), true);
  testing::log_capture log;
  const auto index = build();
  EXPECT_EQ(index->text_by_alias(L"sfx-info.xml"), L"second");
  EXPECT_EQ(log.count("file alias = 'sfx-info.xml' packed in payload twice, overriding"), 1);
  EXPECT_EQ(log.count("file sha-256 = '" + utils::to_narrow(sha_text("same")) + "' packed in payload twice, overriding"), 1);
  EXPECT_EQ(index->aliases(), std::vector<std::wstring>{L"sfx-info.xml"});
  const auto list = saved_info().child(L"kestro-info").child(L"file-list");
  EXPECT_EQ(std::distance(list.children().begin(), list.children().end()), 4);
  // The later, packed record answers the hash.
  const auto unpacked = index->find_by_hash(sha_text("same"))->unpack();
  EXPECT_EQ(std::string(unpacked.begin(), unpacked.end()), "same");
}

TEST_F(Payload, Lookups_ReachRecordsOnlyThroughTheirIndex) {
  append_file_record(image_, "named", as_bytes("named content"));
  append_file_record(image_, "", as_bytes("unnamed content"));
  const auto index = build();
  EXPECT_TRUE(index->find_by_alias(L"named"));
  EXPECT_FALSE(index->find_by_alias(L"NAMED")) << "aliases compare case-sensitively";
  EXPECT_FALSE(index->find_by_hash(sha_text("named content"))) << "a named record is not reachable by hash";
  EXPECT_TRUE(index->find_by_hash(sha_text("unnamed content")));
  std::wstring upper = sha_text("unnamed content");
  std::transform(upper.begin(), upper.end(), upper.begin(), ::towupper);
  EXPECT_FALSE(index->find_by_hash(upper));
  EXPECT_FALSE(index->find_by_alias(L""));
  EXPECT_FALSE(index->text_by_alias(L"missing").has_value());
}

TEST_F(Payload, TextWithBom_KeepsBomAsFirstCharacter) {
  append_file_record(image_, "bom.txt", as_bytes("\xEF\xBB\xBF" "caf\xC3\xA9"));
  const auto index = build();
  EXPECT_EQ(index->text_by_alias(L"bom.txt"), std::wstring(L"\uFEFF" L"caf\u00E9"));
}

TEST_F(Payload, PackedRecord_VerifiedAgainstUnpackedContent) {
  const std::string content(100000, 'z');
  append_file_record(image_, "packed", as_bytes(content), true);
  // A record whose hash is that of its stored (packed) bytes is refused.
  const bytes packed = packers::lzma_compress(as_bytes(content));
  record_fields wrong;
  wrong.flags = 1;
  wrong.alias = "hash-of-packed";
  root::sha256 hash;
  const auto packed_sum = root::digest_of(hash, packed);
  std::copy(packed_sum.bytes().begin(), packed_sum.bytes().end(), wrong.sha256.begin());
  append_record(image_, wrong, packed);
  const auto index = build();
  const auto out = index->find_by_alias(L"packed")->unpack();
  EXPECT_EQ(std::string(out.begin(), out.end()), content);
  index->find_by_alias(L"packed")->unpack_to_file(path(L"packed.out"));
  EXPECT_EQ(testing::read_file(path(L"packed.out")), content);
  EXPECT_THROW(index->find_by_alias(L"hash-of-packed")->unpack(), vyn::exceptions::error);
  EXPECT_THROW(index->find_by_alias(L"hash-of-packed")->unpack_to_file(path(L"wrong.out")), vyn::exceptions::error);
  EXPECT_FALSE(fs::exists(path(L"wrong.out")));
}

TEST_F(Payload, BadRecords_FailAndLeaveNoFileBehind) {
  append_file_record(image_, "altered", as_bytes("original content"));
  const std::size_t altered_at = image_.size() - 3;
  append_file_record(image_, "altered-packed", as_bytes(std::string(5000, 'q')), true);
  const std::size_t altered_packed_at = image_.size() - 2;
  record_fields unknown;
  unknown.flags = 2;
  unknown.alias = "reader-2";
  append_record(image_, unknown, as_bytes("abc"));
  image_[altered_at] ^= 1;
  image_[altered_packed_at] ^= 0x40;
  const auto index = build();
  testing::write_file(path(L"existing.out"), "previous content");
  const struct {
    const wchar_t* alias;
    std::string message;
  } rows[] = {
      {L"altered", "Fail unpack data, wrong checksum (alias:altered, hash:" +
                       utils::to_narrow(sha_text("original content")) + ")!"},
      {L"altered-packed", ""},
      {L"reader-2", "Unsupported data reader (2)"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(utils::to_narrow(r.alias));
    for (const wchar_t* destination : {L"new.out", L"existing.out"}) {
      testing::log_capture log;
      try {
        index->find_by_alias(r.alias)->unpack_to_file(path(destination));
        ADD_FAILURE() << "unpacked";
      } catch (const vyn::exceptions::error& e) {
        if (!r.message.empty()) {
          EXPECT_EQ(e.what(), r.message);
          EXPECT_EQ(e.code(), 13u);
        }
      }
      EXPECT_FALSE(fs::exists(path(destination)));
      if (r.message.starts_with("Fail")) {
        EXPECT_EQ(log.count("[error  ]"), 1) << log.text();
      }
    }
    EXPECT_THROW(index->find_by_alias(r.alias)->unpack(), vyn::exceptions::error);
    testing::write_file(path(L"existing.out"), "previous content");
  }
}

TEST_F(Payload, EmptyContent_UnpacksToEmptyFile) {
  append_file_record(image_, "empty", {});
  append_file_record(image_, "empty.packed", {}, true);
  const auto index = build();
  for (const wchar_t* alias : {L"empty", L"empty.packed"}) {
    const std::wstring target = path((std::wstring(alias) + L".out").c_str());
    index->find_by_alias(alias)->unpack_to_file(target);
    EXPECT_EQ(fs::file_size(target), 0u);
    EXPECT_TRUE(index->find_by_alias(alias)->unpack().empty());
  }
}

TEST_F(Payload, RecordBeyondFileEnd_Code5) {
  const auto index = build();
  auto mapping = std::make_shared<files::file_mapping>(index->file_handle());
  payload_record record;
  record.data_offset = static_cast<std::uint32_t>(fs::file_size(stub_path()) - 10);
  record.size = 11;
  unpacker beyond(mapping, record);
  try {
    beyond.unpack();
    FAIL();
  } catch (const vyn::exceptions::error& e) {
    EXPECT_EQ(e.code(), 5u);
  }
  EXPECT_THROW(beyond.unpack_to_file(path(L"beyond.out")), vyn::exceptions::error);
  EXPECT_FALSE(fs::exists(path(L"beyond.out")));
}

TEST_F(Payload, MissingStub_RaisesSystemCodeAndLogs) {
  testing::log_capture log;
  try {
    payload index(path(L"none.exe"), context_);
    FAIL();
  } catch (const vyn::exceptions::error& e) {
    EXPECT_EQ(e.code(), static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
    EXPECT_STREQ(e.what(), "Failed to open sfx file.");
  }
  EXPECT_EQ(log.count("Payload: Failed to open sfx file '"), 1);
  EXPECT_EQ(log.count("none.exe', 2"), 1);
}

TEST_F(Payload, BadPayload_PropagatesEnumeratorFailure) {
  append_file_record(image_, "a", as_bytes("x"));
  image_[0x600 + 1] = 'X';
  EXPECT_THROW(build(), sfx::exceptions::invalid_payload);
}

// Stored and packed records unpacked to disk hash to what sha256sum computed on the build machine,
// including a 40 MiB file hashed through more than one view.
TEST_F(Payload, UnpackedFiles_MatchReferenceChecksums) {
  const struct {
    const wchar_t* name;
    bool packed;
  } rows[] = {{L"plain", false}, {L"plain", true}, {L"big", false}, {L"big", true}};
  for (const auto& r : rows) {
    const std::wstring name = r.name;
    const std::string sum = testing::read_file(testing::fixture(name + L".sha256")).substr(0, 64);
    const std::string stored = testing::read_file(testing::fixture(name + (r.packed ? L".lzma" : L".bin")));
    record_fields fields;
    fields.flags = r.packed ? 1 : 0;
    const std::string alias = utils::to_narrow(name) + (r.packed ? ".packed" : "");
    fields.alias = alias;
    fields.sha256 = sha_bytes(sum);
    append_record(image_, fields, as_bytes(stored));
  }
  const auto index = build();
  for (const std::wstring alias : {L"plain", L"plain.packed", L"big", L"big.packed"}) {
    SCOPED_TRACE(utils::to_narrow(alias));
    const std::wstring target = path((alias + L".out").c_str());
    index->find_by_alias(alias)->unpack_to_file(target);
    const std::wstring base = alias.substr(0, alias.find(L'.'));
    EXPECT_EQ(testing::read_file(target), testing::read_file(testing::fixture(base + L".bin")));
  }
}

}  // namespace
}  // namespace vyn::sfx

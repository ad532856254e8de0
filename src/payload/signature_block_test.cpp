#include "payload/signature_block.h"

#include <gtest/gtest.h>

#include "foundation/exceptions.h"

#include <string>
#include <vector>

#include "payload/signature_testing.h"

namespace vyn::sfx::signature {
namespace {

std::vector<std::uint8_t> bytes_of(std::string_view text) { return {text.begin(), text.end()}; }

const std::string hex128 = std::string(64, 'a') + std::string(64, 'F');

TEST(SignatureBlockTest, RecognisePe_AcceptsThe32And64BitLayoutsOnly) {
  auto pe32 = testing::minimal_pe_image(false, 100);
  auto pe64 = testing::minimal_pe_image(true, 100);
  const auto f32 = recognise_pe(pe32);
  ASSERT_TRUE(f32);
  EXPECT_EQ(f32->checksum, 0x80u + 88);
  EXPECT_EQ(f32->cert_entry, 0x80u + 152);
  const auto f64 = recognise_pe(pe64);
  ASSERT_TRUE(f64);
  EXPECT_EQ(f64->cert_entry, 0x80u + 168);

  auto arm64 = pe64;
  arm64[0x84] = 0x64;
  arm64[0x85] = 0xAA;
  EXPECT_TRUE(recognise_pe(arm64));

  struct variant {
    const char* what;
    std::size_t offset;
    std::uint8_t value;
  };
  const variant refused[] = {
      {"no MZ", 1, 'X'},
      {"NT offset negative", 0x3F, 0x80},
      {"NT offset beyond the data", 0x3E, 0x10},
      {"no PE signature", 0x82, 1},
      {"unknown machine", 0x84, 0x4D},
      {"64-bit magic in a 32-bit image", 0x99, 0x02},
  };
  for (const auto& v : refused) {
    auto data = pe32;
    data[v.offset] = v.value;
    EXPECT_FALSE(recognise_pe(data)) << v.what;
  }
  // The 32-bit optional header needs 224 bytes behind the file header, the 64-bit one 240.
  EXPECT_TRUE(recognise_pe(bytes(pe32).first(0x80 + 24 + 224)));
  EXPECT_FALSE(recognise_pe(bytes(pe32).first(0x80 + 24 + 223)));
  EXPECT_TRUE(recognise_pe(bytes(pe64).first(0x80 + 24 + 240)));
  EXPECT_FALSE(recognise_pe(bytes(pe64).first(0x80 + 24 + 239)));
  EXPECT_FALSE(recognise_pe(bytes(pe32).first(63)));
}

TEST(SignatureBlockTest, ConsideredData_EndsAtTheCertificateTableLessItsPadding) {
  auto image = testing::minimal_pe_image(false, 100);
  const std::size_t original = image.size();
  image.insert(image.end(), {'V', 'Y', 'N', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});  // 10 zero bytes at the end
  const auto pe = recognise_pe(image);
  ASSERT_TRUE(pe);
  // No table: the whole data, less at most 8 trailing zero bytes.
  EXPECT_EQ(considered_data(image, pe).size(), image.size() - 8);

  auto with_table = image;
  with_table.resize(original + 3);  // ends in "VYN"
  const std::size_t padding = testing::append_cert_table(with_table, 24);
  EXPECT_EQ(padding, (8 - (original + 3) % 8) % 8);
  EXPECT_EQ(considered_data(with_table, recognise_pe(with_table)).size(), original + 3);

  struct entry_case {
    const char* what;
    std::uint32_t offset, size;
    std::size_t expected;
  };
  const std::size_t n = with_table.size();
  const entry_case cases[] = {
      {"table past the end", static_cast<std::uint32_t>(n - 8), 9, n},
      {"offset plus size overflows", 0xFFFFFFF0u, 0x20, n},
      {"table exactly at the end", static_cast<std::uint32_t>(n - 8), 8, n - 8},
      {"size only", 0, 4, 0},
  };
  for (const auto& c : cases) {
    auto data = with_table;
    testing::put_u32(data, pe->cert_entry, c.offset);
    testing::put_u32(data, pe->cert_entry + 4, c.size);
    EXPECT_EQ(considered_data(data, pe).size(), c.expected) << c.what;
  }
  // Data that is no PE image is considered whole, zero bytes included.
  const std::vector<std::uint8_t> plain(40, 0);
  EXPECT_EQ(considered_data(plain, recognise_pe(plain)).size(), 40u);
}

TEST(SignatureBlockTest, LocateBlock_TextForms) {
  struct text_case {
    std::string tail;
    bool found;
  };
  const std::string block = "VYNSig2A" + hex128 + "VYNSig2A";
  const text_case cases[] = {
      {"", true},           {" -->", true},      {" -->\n", true},   {" -->\r\n", true},
      {" -->\n\n", false},  {" -->\r\n\r\n", false}, {"\n", false},     {" -->\r", false},
      {" --> ", false},
  };
  for (const auto& c : cases) {
    const auto data = bytes_of("<a/>\n<!-- " + block + c.tail);
    const auto found = locate_block(data);
    EXPECT_EQ(found.has_value(), c.found) << "tail '" << c.tail << "'";
    if (found) {
      EXPECT_EQ(found->signed_length, 10u);
      EXPECT_EQ(found->version, 2);
      EXPECT_EQ(found->form, block_form::text);
      EXPECT_EQ(found->signature[0], 0xAA);
      EXPECT_EQ(found->signature[63], 0xFF);
    }
  }
  // Markers must match; the block needs 144 bytes; a non-hexadecimal digit raises.
  EXPECT_FALSE(locate_block(bytes_of("VYNSig3A" + hex128 + "VYNSig2A")));
  EXPECT_FALSE(locate_block(bytes_of(("VYNSig2A" + hex128 + "VYNSig2A").substr(1))));
  EXPECT_TRUE(locate_block(bytes_of("VYNSig3A" + hex128 + "VYNSig3A")));
  std::string bad = block;
  bad[8 + 77] = 'g';
  EXPECT_THROW(locate_block(bytes_of(bad)), std::invalid_argument);
}

TEST(SignatureBlockTest, LocateBlock_BinaryFormsAndShortData) {
  std::vector<std::uint8_t> data(72, 0x11);
  const std::string marker = "VYNSig3B";
  std::copy(marker.begin(), marker.end(), data.end() - 8);
  const auto found = locate_block(data);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->signed_length, 0u);
  EXPECT_EQ(found->version, 3);
  EXPECT_EQ(found->form, block_form::binary);
  EXPECT_FALSE(locate_block(bytes(data).subspan(1)));  // 71 bytes

  const char* not_markers[] = {"VYNSig4B", "VYNSig2C", "vynSig2B", "VYNSig2b"};
  for (const char* m : not_markers) {
    std::copy(m, m + 8, data.end() - 8);
    EXPECT_FALSE(locate_block(data)) << m;
  }
  EXPECT_FALSE(locate_block(bytes_of("VYNSig2")));
  EXPECT_FALSE(locate_block({}));
}

TEST(SignatureBlockTest, SignedDigest_FollowsTheVersionRules) {
  const auto text = bytes_of("some data to sign, not a PE image");
  root::sha256 hash;
  EXPECT_EQ(signed_digest(text, std::nullopt, text.size(), 2), root::digest_of(hash, text));
  auto with_length = text;
  for (int i = 0; i < 8; ++i) with_length.push_back(i == 0 ? static_cast<std::uint8_t>(text.size()) : 0);
  EXPECT_EQ(signed_digest(text, std::nullopt, text.size(), 3), root::digest_of(hash, with_length));
  EXPECT_EQ(signed_digest(text, std::nullopt, 4, 2), root::digest_of(hash, bytes(text).first(4)));
  EXPECT_THROW(signed_digest(text, std::nullopt, text.size() + 1, 2), vyn::exceptions::error);
  EXPECT_THROW(signed_digest(text, std::nullopt, text.size(), 4), vyn::exceptions::error);

  const auto image = testing::minimal_pe_image(false, 64);
  const auto pe = recognise_pe(image);
  ASSERT_TRUE(pe);
  auto changed = [&](std::size_t offset, int version) {
    auto copy = image;
    copy[offset] ^= 0x5A;
    return !(signed_digest(copy, pe, copy.size(), version) == signed_digest(image, pe, image.size(), version));
  };
  for (int version : {2, 3}) {
    for (std::size_t i = 0; i < 4; ++i) EXPECT_FALSE(changed(pe->checksum + i, version)) << version;
    EXPECT_TRUE(changed(pe->checksum - 1, version));
    EXPECT_TRUE(changed(pe->checksum + 4, version));
    EXPECT_TRUE(changed(image.size() - 1, version));
  }
  for (std::size_t i = 0; i < 8; ++i) {
    EXPECT_TRUE(changed(pe->cert_entry + i, 2));
    EXPECT_FALSE(changed(pe->cert_entry + i, 3));
  }
  EXPECT_TRUE(changed(pe->cert_entry + 8, 3));
  // Version 2 hashes four zero bytes in place of the CheckSum.
  auto with_sum = image;
  testing::put_u32(with_sum, pe->checksum, 0x12345678);
  EXPECT_EQ(signed_digest(with_sum, pe, with_sum.size(), 2), root::digest_of(hash, image));
  EXPECT_THROW(signed_digest(image, pe, pe->cert_entry + 7, 2), vyn::exceptions::error);
}

}  // namespace
}  // namespace vyn::sfx::signature

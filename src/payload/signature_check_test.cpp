#include "payload/signature_check.h"

#include <gtest/gtest.h>

#include "foundation/exceptions.h"

#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "payload/bigint.h"
#include "payload/keys.h"
#include "payload/signature_testing.h"

namespace vyn::sfx::signature {
namespace {

using testing::put_u32;

std::vector<std::uint8_t> bytes_of(std::string_view text) { return {text.begin(), text.end()}; }

class SignatureCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (testing::test_private_keys().empty()) GTEST_SKIP() << "the key folder's private keys are not in this build";
  }

  static sign_options options(block_form form, int version, bool xml = false) {
    sign_options o;
    o.form = form;
    o.version = version;
    o.xml_comment = xml;
    return o;
  }

  // A payload-like body: text, binary and zero runs.
  static std::vector<std::uint8_t> sample_data(std::size_t size) {
    std::vector<std::uint8_t> data(size);
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>((i * 37 + i / 97) % 251);
    std::fill(data.begin() + static_cast<std::ptrdiff_t>(size / 2),
              data.begin() + static_cast<std::ptrdiff_t>(std::min(size, size / 2 + 40)), 0);
    return data;
  }
};

TEST_F(SignatureCheckTest, KeyTable_HasTheSetsOfTheStatedFormsAndCounts) {
  const auto& set7 = keys::build_key_set(7);
  ASSERT_EQ(set7.dsa.size(), 2u);
  EXPECT_EQ(set7.ecdsa.size(), 2u);
  EXPECT_TRUE(std::equal(set7.dsa[0].p.begin(), set7.dsa[0].p.end(), set7.dsa[1].p.begin(), set7.dsa[1].p.end()));
  EXPECT_TRUE(std::equal(set7.dsa[0].g.begin(), set7.dsa[0].g.end(), set7.dsa[1].g.begin(), set7.dsa[1].g.end()));
  EXPECT_FALSE(std::equal(set7.dsa[0].y.begin(), set7.dsa[0].y.end(), set7.dsa[1].y.begin(), set7.dsa[1].y.end()));
  EXPECT_EQ(keys::build_key_set(8).dsa.size(), 10u);
  EXPECT_EQ(keys::build_key_set(8).ecdsa.size(), 7u);
  for (unsigned id = 0; id <= 5; ++id) {
    const auto& set = keys::build_key_set(id);
    EXPECT_GE(set.dsa.size(), 3u);
    EXPECT_LE(set.dsa.size(), 5u);
    EXPECT_GE(set.ecdsa.size(), 2u);
    EXPECT_LE(set.ecdsa.size(), 3u);
  }
  for (const auto& set : keys::built_in_key_sets()) {
    for (const auto& k : set.dsa) {
      EXPECT_EQ(k.p.size(), 256u);
      EXPECT_EQ(k.q.size(), 32u);
      EXPECT_GE(k.p[0], 0x80) << "p of 2048 bits";
      EXPECT_GE(k.q[0], 0x80) << "q of 256 bits";
    }
    for (const auto& point : set.ecdsa) EXPECT_EQ(point.size(), 65u);
  }
  try {
    keys::build_key_set(6);
    ADD_FAILURE() << "key set 6 exists";
  } catch (const vyn::exceptions::error& e) {
    EXPECT_EQ(e.code(), 87u);
    EXPECT_STREQ(e.what(), "Unknown DSA key!");
  }
}

TEST_F(SignatureCheckTest, EveryKeyOfSets7And8_SignsAndIsFoundAtItsPosition) {
  const auto data = sample_data(300);
  for (unsigned id : {7u, 8u}) {
    const auto& set = keys::build_key_set(id);
    for (key_kind kind : {key_kind::dsa, key_kind::ecdsa}) {
      const std::size_t count = kind == key_kind::dsa ? set.dsa.size() : set.ecdsa.size();
      for (std::size_t i = 0; i < count; ++i) {
        const auto signed_data = testing::sign(data, options(block_form::binary, 3), id, kind, i);
        const auto result = check(signed_data, id);
        ASSERT_TRUE(result.valid()) << "set " << id << " key " << i;
        EXPECT_EQ(result.key->kind, kind);
        EXPECT_EQ(result.key->index, i);
      }
    }
  }
}

TEST_F(SignatureCheckTest, AnyChangedByteOfRegionOrSignature_Fails) {
  const auto data = sample_data(700);
  struct variant {
    block_form form;
    int version;
    key_kind kind;
  };
  const variant variants[] = {{block_form::binary, 2, key_kind::dsa},
                              {block_form::binary, 3, key_kind::ecdsa},
                              {block_form::text, 2, key_kind::ecdsa},
                              {block_form::text, 3, key_kind::dsa}};
  for (const auto& v : variants) {
    const auto signed_data = testing::sign(data, options(v.form, v.version), 7, v.kind, 1);
    ASSERT_TRUE(is_signed(signed_data, 7));
    std::set<std::size_t> positions = {0, 1, data.size() / 2, data.size() - 1};
    for (std::size_t i = 0; i < data.size(); i += 53) positions.insert(i);
    // The whole block: signature bytes (or digits) and markers.
    for (std::size_t i = data.size(); i < signed_data.size(); i += v.form == block_form::binary ? 3 : 5) positions.insert(i);
    positions.insert(signed_data.size() - 1);
    for (std::size_t pos : positions) {
      auto altered = signed_data;
      // A hexadecimal digit turns into another digit, anything else into another byte.
      altered[pos] = static_cast<std::uint8_t>(altered[pos] == '0' ? '1' : altered[pos] == 'f' ? 'e' : altered[pos] ^ 0x01);
      EXPECT_FALSE(is_signed(altered, 7)) << "form " << static_cast<int>(v.form) << " v" << v.version << " byte " << pos;
    }
  }
}

TEST_F(SignatureCheckTest, PeImage_CheckSumBytesDoNotMatter) {
  for (bool pe64 : {false, true}) {
    for (int version : {2, 3}) {
      const auto image = testing::minimal_pe_image(pe64, 500);
      auto signed_image = testing::sign(image, options(block_form::binary, version), 7, key_kind::dsa, 0);
      const auto pe = recognise_pe(signed_image);
      ASSERT_TRUE(pe);
      put_u32(signed_image, pe->checksum, 0xDEADBEEF);
      EXPECT_TRUE(is_signed(signed_image, 7)) << pe64 << " v" << version;
      signed_image[pe->checksum + 4] ^= 1;
      EXPECT_FALSE(is_signed(signed_image, 7)) << pe64 << " v" << version;
    }
  }
}

TEST_F(SignatureCheckTest, CertificateTableAppended_Version3StaysValidVersion2DoesNot) {
  // Payload bytes of every length modulo 8 behind the image: every alignment padding from 0 to 7.
  std::set<std::size_t> paddings;
  for (std::size_t extra = 0; extra < 8; ++extra) {
    for (bool pe64 : {false, true}) {
      auto image = testing::minimal_pe_image(pe64, 500);
      image.resize(image.size() + 100 + extra, 0x77);
      auto v3 = testing::sign(image, options(block_form::binary, 3), 7, pe64 ? key_kind::ecdsa : key_kind::dsa, 0);
      auto v2 = testing::sign(image, options(block_form::binary, 2), 7, pe64 ? key_kind::ecdsa : key_kind::dsa, 0);
      paddings.insert(testing::append_cert_table(v3, 1000));
      testing::append_cert_table(v2, 1000);
      EXPECT_TRUE(is_signed(v3, 7)) << "extra " << extra;
      EXPECT_FALSE(is_signed(v2, 7)) << "version 2 hashes the certificate entry";
    }
  }
  EXPECT_EQ(paddings.size(), 8u);
}

TEST_F(SignatureCheckTest, Version2WithFinalCertificateEntry_StaysValidOnceTheTableIsAppended) {
  auto o = options(block_form::binary, 2);
  o.reserve_cert_table = 1000;
  auto image = testing::minimal_pe_image(false, 777);
  image.resize(image.size() + 13, 0x20);
  auto signed_image = testing::sign(image, o);
  EXPECT_TRUE(is_signed(signed_image, 7)) << "the entry points past the end: the whole data counts";
  testing::append_cert_table(signed_image, 1000);
  EXPECT_TRUE(is_signed(signed_image, 7));
  auto other_size = testing::sign(image, o);
  testing::append_cert_table(other_size, 1008);
  EXPECT_FALSE(is_signed(other_size, 7));
}

TEST_F(SignatureCheckTest, ZeroPaddingInFrontOfTheTable_UpToEightBytesIsSkipped) {
  const auto signed_image = testing::sign(testing::minimal_pe_image(false, 512), options(block_form::binary, 3));
  for (std::size_t zeros : {0u, 1u, 7u, 8u, 9u, 16u}) {
    auto data = signed_image;
    data.resize(data.size() + zeros, 0);
    const std::size_t table = data.size();
    data.resize(table + 16, 0x33);
    const auto pe = recognise_pe(data);
    put_u32(data, pe->cert_entry, static_cast<std::uint32_t>(table));
    put_u32(data, pe->cert_entry + 4, 16);
    EXPECT_EQ(is_signed(data, 7), zeros <= 8) << zeros << " zero bytes";
  }
}

TEST_F(SignatureCheckTest, XmlEndings_OneLineBreakAtMost) {
  const auto xml = bytes_of("<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<sfx-info version=\"2\"/>\r\n");
  struct ending_case {
    line_ending ending;
    std::string extra;
    bool valid;
  };
  const ending_case cases[] = {{line_ending::none, "", true},       {line_ending::lf, "", true},
                               {line_ending::crlf, "", true},       {line_ending::lf, "\n", false},
                               {line_ending::crlf, "\r\n", false},  {line_ending::none, " ", false},
                               {line_ending::crlf, "\n", false}};
  for (int version : {2, 3}) {
    for (const auto& c : cases) {
      auto o = options(block_form::text, version, true);
      o.line_end = c.ending;
      auto data = testing::sign(xml, o);
      const std::string text(data.begin(), data.end());
      EXPECT_NE(text.find("\r\n<!-- VYNSig" + std::to_string(version) + "A"), std::string::npos);
      data.insert(data.end(), c.extra.begin(), c.extra.end());
      EXPECT_EQ(is_signed(data, 7), c.valid) << "v" << version << " ending " << static_cast<int>(c.ending) << " + '" << c.extra << "'";
    }
  }
}

TEST_F(SignatureCheckTest, TextBlock_EitherCaseVerifiesANonHexDigitGivesFalse) {
  const auto data = testing::sign(bytes_of("config"), options(block_form::text, 2));
  std::vector<std::uint8_t> upper = data;
  for (std::size_t i = 6 + 8; i < 6 + 8 + 128; ++i) upper[i] = static_cast<std::uint8_t>(std::toupper(upper[i]));
  EXPECT_TRUE(is_signed(upper, 7));
  for (char bad : {'g', 'G', ' ', '\0', 'x'}) {
    auto altered = data;
    altered[6 + 8 + 40] = static_cast<std::uint8_t>(bad);
    EXPECT_FALSE(is_signed(altered, 7)) << bad;
    EXPECT_THROW(check(altered, 7), std::invalid_argument);
  }
}

TEST_F(SignatureCheckTest, EmptyUnsignedAndUnknownSet_GiveFalse) {
  EXPECT_FALSE(is_signed({}, 7));
  EXPECT_FALSE(check({}, 7).block);
  const auto data = sample_data(100);
  EXPECT_FALSE(is_signed(data, 7));
  const auto signed_data = testing::sign(data, options(block_form::binary, 2));
  EXPECT_TRUE(is_signed(signed_data, 7));
  EXPECT_FALSE(is_signed(signed_data, 6));
  EXPECT_THROW(check(signed_data, 6), vyn::exceptions::error);
  // An unsigned block of the right shape is found but accepted by no key.
  auto zero_signature = data;
  zero_signature.resize(zero_signature.size() + 64, 0);
  const std::string marker = "VYNSig2B";
  zero_signature.insert(zero_signature.end(), marker.begin(), marker.end());
  const auto result = check(zero_signature, 7);
  EXPECT_TRUE(result.block);
  EXPECT_FALSE(result.valid());
}

TEST_F(SignatureCheckTest, Set8Signature_OnlyVerifiesWithSet8) {
  const auto data = sample_data(200);
  for (key_kind kind : {key_kind::dsa, key_kind::ecdsa}) {
    const auto signed_data = testing::sign(data, options(block_form::binary, 2), 8, kind, 3);
    EXPECT_FALSE(is_signed(signed_data, 7));
    EXPECT_TRUE(is_signed(signed_data, 8));
  }
  const auto set7_signed = testing::sign(data, options(block_form::binary, 2), 7, key_kind::ecdsa, 1);
  EXPECT_FALSE(is_signed(set7_signed, 8));
}

TEST_F(SignatureCheckTest, SignatureScalarsOutOfRange_AreRefused) {
  // s + q is the same s modulo q; a check without the range test would accept it.
  const auto& key = keys::build_key_set(7).dsa[0];
  const crypto::natural q = crypto::natural::from_be_bytes(key.q);
  const crypto::natural two256 = crypto::natural::power_of_two(256);
  bool tried = false;
  for (std::size_t round = 0; round < 64 && !tried; ++round) {
    auto data = sample_data(50 + round);
    auto signed_data = testing::sign(data, options(block_form::binary, 2));
    const std::size_t s_at = signed_data.size() - 8 - 32;
    const crypto::natural s = crypto::natural::from_be_bytes(std::span(signed_data).subspan(s_at, 32));
    const crypto::natural s_plus_q = crypto::add(s, q);
    if (!(s_plus_q < two256)) continue;
    tried = true;
    s_plus_q.to_be_bytes(std::span(signed_data).subspan(s_at, 32));
    EXPECT_FALSE(is_signed(signed_data, 7));
  }
  EXPECT_TRUE(tried);
  // r = 0 and s = 0.
  auto signed_data = testing::sign(sample_data(60), options(block_form::binary, 3));
  for (std::size_t at : {signed_data.size() - 72, signed_data.size() - 40}) {
    auto altered = signed_data;
    std::fill(altered.begin() + static_cast<std::ptrdiff_t>(at), altered.begin() + static_cast<std::ptrdiff_t>(at + 32), 0);
    EXPECT_FALSE(is_signed(altered, 7));
  }
}


// Data in pieces of a fixed size, as a file read through bounded views hands it over.
class pieces final : public piecewise_data {
 public:
  pieces(const std::vector<std::uint8_t>& data, std::size_t piece) : data_(data), piece_(piece) {}
  std::uint64_t size() const override { return data_.size(); }
  void read(std::uint64_t offset, std::uint64_t length, const std::function<void(bytes)>& take) const override {
    EXPECT_LE(offset + length, data_.size()) << "a read past the end";
    while (length != 0) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length, piece_));
      take(bytes(data_).subspan(static_cast<std::size_t>(offset), n));
      offset += n;
      length -= n;
    }
  }

 private:
  const std::vector<std::uint8_t>& data_;
  std::size_t piece_;
};

// The check over pieces agrees with the check over one span on every kind of input: blocks of
// both forms and versions, PE images with and without certificate tables and padding, XML
// endings, altered and unsigned data, data too short to hold a block.
TEST_F(SignatureCheckTest, DataInPieces_ChecksAsTheWholeSpanDoes) {
  std::vector<std::vector<std::uint8_t>> corpus;
  for (int version : {2, 3}) {
    for (block_form form : {block_form::binary, block_form::text}) {
      corpus.push_back(testing::sign(sample_data(5000), options(form, version)));
    }
    auto xml = options(block_form::text, version, true);
    xml.line_end = line_ending::crlf;
    corpus.push_back(testing::sign(bytes_of("<a>text</a>\r\n"), xml));
    for (bool pe64 : {false, true}) {
      auto image = testing::minimal_pe_image(pe64, 3000);
      image.resize(image.size() + 5, 0x41);
      auto signed_image = testing::sign(image, options(block_form::binary, version), 7, key_kind::ecdsa, 1);
      corpus.push_back(signed_image);
      testing::append_cert_table(signed_image, 600);
      corpus.push_back(signed_image);
    }
  }
  const std::size_t originals = corpus.size();
  for (std::size_t i = 0; i < originals; ++i) {
    for (const std::size_t at : {std::size_t{0}, std::size_t{100}, corpus[i].size() / 2, corpus[i].size() - 1}) {
      auto altered = corpus[i];
      altered[at] ^= 0x10;
      corpus.push_back(altered);
    }
  }
  corpus.push_back({});
  corpus.push_back(bytes_of("VYNSig2B"));
  corpus.push_back(sample_data(10));
  corpus.push_back(testing::minimal_pe_image(false, 100));

  for (std::size_t i = 0; i < corpus.size(); ++i) {
    const auto& data = corpus[i];
    check_result whole;
    bool whole_threw = false;
    try {
      whole = check(data, 7);
    } catch (const std::invalid_argument&) {
      whole_threw = true;
    }
    for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{64}, std::size_t{4096}, data.size() + 1}) {
      SCOPED_TRACE(::testing::Message() << "input " << i << ", pieces of " << piece);
      const pieces in_pieces(data, piece);
      if (whole_threw) {
        EXPECT_THROW(check(in_pieces, 7), std::invalid_argument);
        continue;
      }
      const check_result parts = check(in_pieces, 7);
      EXPECT_EQ(parts.valid(), whole.valid());
      ASSERT_EQ(parts.block.has_value(), whole.block.has_value());
      if (whole.block) {
        EXPECT_EQ(parts.block->signed_length, whole.block->signed_length);
        EXPECT_EQ(parts.block->version, whole.block->version);
        EXPECT_EQ(parts.block->form, whole.block->form);
      }
      if (whole.key) {
        EXPECT_EQ(parts.key->kind, whole.key->kind);
        EXPECT_EQ(parts.key->index, whole.key->index);
      }
      EXPECT_EQ(is_signed(in_pieces, 7), whole.valid());
    }
  }
  // Every original is validly signed but the two version 2 images that got their certificate
  // table after signing: the corpus holds both outcomes.
  EXPECT_EQ(std::count_if(corpus.begin(), corpus.begin() + static_cast<std::ptrdiff_t>(originals),
                          [](const auto& d) { return is_signed(d, 7); }),
            static_cast<std::ptrdiff_t>(originals - 2));
}

}  // namespace
}  // namespace vyn::sfx::signature

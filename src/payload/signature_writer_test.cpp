#include "payload/signature_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "payload/signature_testing.h"

namespace vyn::sfx::signature {
namespace {

std::vector<std::uint8_t> bytes_of(std::string_view text) { return {text.begin(), text.end()}; }
std::string text_of(const std::vector<std::uint8_t>& data) { return {data.begin(), data.end()}; }

// A signer that needs no key: the signature is the digest twice, which lets the layout be checked.
std::array<std::uint8_t, 64> echo_signer(std::span<const std::uint8_t, 32> digest) {
  std::array<std::uint8_t, 64> out{};
  std::copy(digest.begin(), digest.end(), out.begin());
  std::copy(digest.begin(), digest.end(), out.begin() + 32);
  return out;
}

sign_options text_options(bool xml, line_ending ending, int version) {
  sign_options o;
  o.form = block_form::text;
  o.xml_comment = xml;
  o.line_end = ending;
  o.version = version;
  return o;
}

TEST(SignatureWriterTest, Layouts_OfTheThreeForms) {
  const auto data = bytes_of("<x/>\n");
  const auto binary = sign_data(data, {}, echo_signer);
  ASSERT_EQ(binary.data.size(), data.size() + 72);
  EXPECT_EQ(text_of(binary.data).substr(data.size() + 64), "VYNSig3B");
  EXPECT_EQ(binary.signed_length, data.size());
  EXPECT_TRUE(std::equal(binary.digest.bytes().begin(), binary.digest.bytes().end(), binary.data.begin() + 5));

  const auto xml = sign_data(data, text_options(true, line_ending::crlf, 2), echo_signer);
  const std::string text = text_of(xml.data);
  EXPECT_EQ(xml.signed_length, data.size() + 5);
  EXPECT_EQ(text.substr(0, 5 + 13), "<x/>\n<!-- VYNSig2A");
  EXPECT_EQ(text.substr(text.size() - 14), "VYNSig2A -->\r\n");
  EXPECT_EQ(text.size(), data.size() + 5 + 144 + 6);
  const std::string digits = text.substr(5 + 13, 128);
  EXPECT_EQ(digits, xml.digest.hex() + xml.digest.hex()) << "lower-case digits";

  const auto plain = sign_data(data, text_options(false, line_ending::crlf, 3), echo_signer);
  EXPECT_EQ(text_of(plain.data).substr(data.size(), 8), "VYNSig3A");
  EXPECT_EQ(plain.data.size(), data.size() + 144);
}

TEST(SignatureWriterTest, RefusesSignedDataUnknownVersionsAndMisplacedReservations) {
  const auto data = bytes_of("payload bytes");
  const auto once = sign_data(data, {}, echo_signer).data;
  EXPECT_THROW(sign_data(once, {}, echo_signer), refused);
  const auto xml = sign_data(data, text_options(true, line_ending::lf, 2), echo_signer).data;
  EXPECT_THROW(sign_data(xml, text_options(true, line_ending::lf, 2), echo_signer), refused);
  auto damaged = xml;
  damaged[data.size() + 5 + 8 + 3] = 'z';
  EXPECT_THROW(sign_data(damaged, {}, echo_signer), refused);
  sign_options v4;
  v4.version = 4;
  EXPECT_THROW(sign_data(data, v4, echo_signer), refused);
  sign_options reserve;
  reserve.reserve_cert_table = 100;
  EXPECT_THROW(sign_data(data, reserve, echo_signer), refused);
}

TEST(SignatureWriterTest, PeWithCertificateTable_IsRefusedOrStrippedOnRequest) {
  auto image = testing::minimal_pe_image(false, 300);
  const std::size_t unsigned_size = image.size();
  testing::append_cert_table(image, 256);
  EXPECT_THROW(sign_data(image, {}, echo_signer), refused);
  sign_options strip;
  strip.strip_cert_table = true;
  const auto out = sign_data(image, strip, echo_signer);
  EXPECT_EQ(out.signed_length, unsigned_size);
  const auto pe = recognise_pe(out.data);
  ASSERT_TRUE(pe);
  for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(out.data[pe->cert_entry + i], 0);
  // A table that is only reserved (its entry points past the end) is no reason to refuse.
  auto reserved = testing::minimal_pe_image(false, 300);
  testing::put_u32(reserved, pe->cert_entry, static_cast<std::uint32_t>(reserved.size() + 80));
  testing::put_u32(reserved, pe->cert_entry + 4, 500);
  EXPECT_NO_THROW(sign_data(reserved, {}, echo_signer));
}

TEST(SignatureWriterTest, ReservedCertificateEntry_PointsAtTheAlignedEndOfTheSignedFile) {
  for (std::size_t body : {300u, 301u, 305u}) {
    const auto image = testing::minimal_pe_image(true, body);
    sign_options o;
    o.version = 2;
    o.reserve_cert_table = 0x1234;
    const auto out = sign_data(image, o, echo_signer);
    const auto pe = recognise_pe(out.data);
    std::uint32_t offset = 0, size = 0;
    for (int i = 0; i < 4; ++i) {
      offset |= std::uint32_t{out.data[pe->cert_entry + i]} << (8 * i);
      size |= std::uint32_t{out.data[pe->cert_entry + 4 + i]} << (8 * i);
    }
    EXPECT_EQ(offset, (out.data.size() + 7) / 8 * 8);
    EXPECT_EQ(size, 0x1234u);
  }
}

TEST(SignatureWriterTest, TruncatedImageThatGrowsIntoAPeImage_IsRefused) {
  // Too short to be recognised as a PE image until the block is appended.
  auto image = testing::minimal_pe_image(false, 10);
  image.resize(0x80 + 24 + 224 - 40);
  EXPECT_FALSE(recognise_pe(image));
  EXPECT_THROW(sign_data(image, {}, echo_signer), std::exception);
}

}  // namespace
}  // namespace vyn::sfx::signature

// Signatures made by the openssl command verify with the stub's verifier, and signatures made by
// sfxtool verify with the openssl command: DER (r, s) converted to and from the 64-byte form.

#include <gtest/gtest.h>

#include <string>

#include "exit_codes.h"
#include "payload/signature_check.h"
#include "payload/signature_testing.h"
#include "tool_test_support.h"

namespace vyn::tool {
namespace {

using test::quote;
using test::run;

std::array<std::uint8_t, 64> rs_from_der(const std::vector<std::uint8_t>& der) {
  std::array<std::uint8_t, 64> out{};
  EXPECT_GE(der.size(), 8u);
  EXPECT_EQ(der[0], 0x30);
  std::size_t at = der[1] & 0x80 ? 2 + (der[1] & 0x7F) : 2;
  for (std::size_t half = 0; half < 2; ++half) {
    EXPECT_EQ(der[at], 0x02);
    std::size_t length = der[at + 1];
    std::size_t start = at + 2;
    while (length > 32) {  // a leading zero that keeps the INTEGER positive
      ++start;
      --length;
    }
    std::copy(der.begin() + static_cast<std::ptrdiff_t>(start), der.begin() + static_cast<std::ptrdiff_t>(start + length),
              out.begin() + static_cast<std::ptrdiff_t>(half * 32 + 32 - length));
    at = start + length;
  }
  return out;
}

std::vector<std::uint8_t> der_integer(std::span<const std::uint8_t> value) {
  std::size_t skip = 0;
  while (skip + 1 < value.size() && value[skip] == 0) ++skip;
  std::vector<std::uint8_t> out = {0x02, 0};
  if (value[skip] & 0x80) out.push_back(0);
  out.insert(out.end(), value.begin() + static_cast<std::ptrdiff_t>(skip), value.end());
  out[1] = static_cast<std::uint8_t>(out.size() - 2);
  return out;
}

std::vector<std::uint8_t> der_from_rs(std::span<const std::uint8_t, 64> sig) {
  auto body = der_integer(sig.first<32>());
  const auto s = der_integer(sig.last<32>());
  body.insert(body.end(), s.begin(), s.end());
  std::vector<std::uint8_t> out = {0x30, static_cast<std::uint8_t>(body.size())};
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

void append_le64(std::vector<std::uint8_t>& data, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) data.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// The bytes the digest covers, by the rules of the signature format (restated here, not taken from
// the verifier): a PE image leaves out its CheckSum (version 2: four zero bytes instead) and, in
// version 3, the certificate table entry; version 3 appends the length.
std::vector<std::uint8_t> hashed_bytes(const std::vector<std::uint8_t>& region, int version, bool pe) {
  std::vector<std::uint8_t> out;
  const std::size_t checksum = 0x80 + 88, entry = 0x80 + 152;  // minimal_pe_image's 32-bit layout
  if (!pe) {
    out = region;
  } else if (version == 2) {
    out = region;
    for (std::size_t i = checksum; i < checksum + 4 && i < out.size(); ++i) out[i] = 0;
  } else {
    out.assign(region.begin(), region.begin() + checksum);
    out.insert(out.end(), region.begin() + checksum + 4, region.begin() + entry);
    out.insert(out.end(), region.begin() + entry + 8, region.end());
  }
  if (version == 3) append_le64(out, region.size());
  return out;
}

class OpensslInteropTest : public test::temp_dir_test {
 protected:
  // SHA-256 by the openssl command.
  std::filesystem::path openssl_digest(const std::vector<std::uint8_t>& hashed) {
    test::write_bytes(path("hashed.bin"), hashed);
    const auto r = run("openssl dgst -sha256 -binary -out " + quote(path("digest.bin")) + " " + quote(path("hashed.bin")));
    EXPECT_EQ(r.code, 0) << r.output;
    return path("digest.bin");
  }

  std::array<std::uint8_t, 64> openssl_sign(const std::filesystem::path& key, const std::filesystem::path& digest) {
    const auto r = run("openssl pkeyutl -sign -inkey " + quote(key) + " -in " + quote(digest) + " -out " + quote(path("sig.der")));
    EXPECT_EQ(r.code, 0) << r.output;
    return rs_from_der(test::read_bytes(path("sig.der")));
  }

  test::run_result openssl_verify(const std::filesystem::path& key, const std::filesystem::path& digest,
                            std::span<const std::uint8_t, 64> sig) {
    EXPECT_EQ(run("openssl pkey -in " + quote(key) + " -pubout -out " + quote(path("pub.pem"))).code, 0);
    test::write_bytes(path("sig.der"), der_from_rs(sig));
    return run("openssl pkeyutl -verify -pubin -inkey " + quote(path("pub.pem")) + " -in " + quote(digest) +
               " -sigfile " + quote(path("sig.der")));
  }
};

TEST_F(OpensslInteropTest, OpensslSignatures_VerifyWithTheStubsVerifier) {
  struct variant {
    const char* key;
    sfx::signature::key_kind kind;
    int version;
    bool pe;
    bool text;
  };
  const variant variants[] = {{"set7-dsa-1", sfx::signature::key_kind::dsa, 2, false, false},
                              {"set7-dsa-1", sfx::signature::key_kind::dsa, 3, true, false},
                              {"set7-ecdsa-1", sfx::signature::key_kind::ecdsa, 3, false, true},
                              {"set7-ecdsa-1", sfx::signature::key_kind::ecdsa, 2, true, false}};
  for (const auto& v : variants) {
    std::vector<std::uint8_t> region;
    if (v.pe) {
      region = sfx::testing::minimal_pe_image(false, 1500);
      region[0x80 + 88] = 0x5A;  // a CheckSum that must not matter
    } else {
      const std::string text = "<sfx-info>signed by openssl</sfx-info>\n";
      region.assign(text.begin(), text.end());
    }
    const auto sig = openssl_sign(test::key_dir() / (std::string(v.key) + ".pem"), openssl_digest(hashed_bytes(region, v.version, v.pe)));
    auto data = region;
    const std::string marker = "VYNSig" + std::to_string(v.version) + (v.text ? "A" : "B");
    if (v.text) {
      const auto block = sfx::signature::text_block(sig, v.version);
      data.insert(data.end(), block.begin(), block.end());
    } else {
      data.insert(data.end(), sig.begin(), sig.end());
      data.insert(data.end(), marker.begin(), marker.end());
    }
    const auto result = sfx::signature::check(data, 7);
    ASSERT_TRUE(result.valid()) << v.key << " v" << v.version;
    EXPECT_EQ(result.key->kind, v.kind);
    EXPECT_EQ(result.key->index, 1u);
    test::write_bytes(path("signed.bin"), data);
    EXPECT_EQ(run(test::sfxtool() + " verify " + quote(path("signed.bin"))).code, exit_ok);
  }
}

TEST_F(OpensslInteropTest, SfxtoolSignatures_VerifyWithOpenssl) {
  const std::pair<unsigned, const char*> keys[] = {{7, "set7-dsa-0"}, {7, "set7-ecdsa-0"}, {8, "set8-dsa-4"}, {8, "set8-ecdsa-2"}};
  for (const auto& [set, key] : keys) {
    for (int version : {2, 3}) {
      for (bool pe : {false, true}) {
        std::vector<std::uint8_t> input;
        if (pe) {
          input = sfx::testing::minimal_pe_image(false, 900);
        } else {
          input.assign(300, 0x61);
        }
        test::write_bytes(path("in"), input);
        const auto r = run(test::sfxtool() + " sign --keys " + quote(test::key_dir()) + " --set " + std::to_string(set) +
                           " --key " + key + " --version " + std::to_string(version) + " " + quote(path("in")) + " " +
                           quote(path("out")));
        ASSERT_EQ(r.code, exit_ok) << r.output;
        const auto out = test::read_bytes(path("out"));
        ASSERT_EQ(out.size(), input.size() + 72);
        std::array<std::uint8_t, 64> sig{};
        std::copy(out.begin() + static_cast<std::ptrdiff_t>(input.size()), out.end() - 8, sig.begin());
        const auto digest = openssl_digest(hashed_bytes(input, version, pe));
        const auto pem = test::key_dir() / (std::string(key) + ".pem");
        const auto verified = openssl_verify(pem, digest, sig);
        EXPECT_EQ(verified.code, 0) << key << " v" << version << " pe " << pe << ": " << verified.output;
        EXPECT_NE(verified.output.find("Signature Verified Successfully"), std::string::npos);
        sig[40] ^= 0x04;
        EXPECT_NE(openssl_verify(pem, digest, sig).code, 0) << key;
      }
    }
  }
}

TEST_F(OpensslInteropTest, KeyOutsideTheKeySet_IsNotAccepted) {
  ASSERT_EQ(run("openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out " + quote(path("other.pem"))).code, 0);
  const std::string text = "data";
  const std::vector<std::uint8_t> region(text.begin(), text.end());
  const auto sig = openssl_sign(path("other.pem"), openssl_digest(region));
  auto data = region;
  data.insert(data.end(), sig.begin(), sig.end());
  const std::string marker = "VYNSig2B";
  data.insert(data.end(), marker.begin(), marker.end());
  const auto result = sfx::signature::check(data, 7);
  EXPECT_TRUE(result.block);
  EXPECT_FALSE(result.valid());
  // The same bytes verify against that key with openssl, so the block itself is sound.
  EXPECT_EQ(openssl_verify(path("other.pem"), path("digest.bin"), sig).code, 0);
}

}  // namespace
}  // namespace vyn::tool

#include "payload/ecc_p256.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/exceptions.h"
#include "payload/dsa_verify.h"
#include "payload/ecc_ecdsa.h"
#include "payload/signature_openssl_vectors_test.h"

namespace vyn::sfx::crypto {
namespace {

using namespace p256;

std::vector<std::uint8_t> hex(std::string_view text) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
    out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16)));
  }
  return out;
}

fe fe_hex(std::string_view text) {
  const auto bytes = hex(text);
  return fe_from_be(std::span<const std::uint8_t, 32>(bytes.data(), 32));
}

natural to_natural(const fe& a) { return natural::from_words(a.v.data(), 8); }

std::array<std::uint8_t, 64> sig_bytes(std::string_view text) {
  const auto bytes = hex(text);
  std::array<std::uint8_t, 64> out{};
  std::copy(bytes.begin(), bytes.end(), out.begin());
  return out;
}

std::span<const std::uint8_t, 32> digest32(const std::vector<std::uint8_t>& d) {
  return std::span<const std::uint8_t, 32>(d.data(), 32);
}

affine table_entry(std::size_t i) {
  affine a;
  std::copy(generator_table[i].begin(), generator_table[i].begin() + 8, a.x.v.begin());
  std::copy(generator_table[i].begin() + 8, generator_table[i].end(), a.y.v.begin());
  return a;
}

TEST(P256Test, FieldOperations_MatchPlainModularArithmetic) {
  const natural& p = prime();
  const fe values[] = {
      fe{}, fe{{1}},
      fe_hex("ffffffff00000001000000000000000000000000fffffffffffffffffffffffe"),  // p - 1
      fe_hex("ffffffff00000000ffffffffffffffffbce6faada7179e84f3b9cac2fc632551"),  // n
      generator().x, generator().y,
      fe_hex("00000000ffffffffffffffffffffffffffffffff000000000000000000000001"),
      fe_hex("8000000000000000000000000000000000000000000000000000000000000000")};
  for (const fe& a : values) {
    for (const fe& b : values) {
      const natural na = to_natural(a), nb = to_natural(b);
      EXPECT_EQ(to_natural(fe_mul(a, b)), mod_mul(na, nb, p));
      EXPECT_EQ(to_natural(fe_add(a, b)), mod(add(na, nb), p));
      EXPECT_EQ(to_natural(fe_sub(fe_add(a, b), b)), na);
    }
    EXPECT_EQ(fe_sqr(a), fe_mul(a, a));
    if (!fe_is_zero(a)) {
      EXPECT_EQ(fe_mul(a, fe_inverse(a)), (fe{{1}}));
    }
  }
  fe root;
  ASSERT_TRUE(fe_sqrt(fe_sqr(generator().y), root));
  EXPECT_TRUE(root == generator().y || root == fe_neg(generator().y));
  EXPECT_FALSE(fe_sqrt(fe_neg(fe{{1}}), root));  // -1 is not a square modulo p
  const auto p_bytes = hex("ffffffff00000001000000000000000000000000ffffffffffffffffffffffff");
  EXPECT_THROW(fe_from_be(std::span<const std::uint8_t, 32>(p_bytes.data(), 32)), exceptions::error);
}

TEST(P256Test, PointArithmetic_KnownDoubleAndGroupOrder) {
  const affine g2 = to_affine(point_double(to_jacobian(generator())));
  EXPECT_EQ(g2.x, fe_hex("7cf27b188d034f7e8a52380304b51ac3c08969e277f21b35a60b48fc47669978"));
  EXPECT_EQ(g2.y, fe_hex("07775510db8ed040293d9ac69f7430dbba7dade63ce982299e04b79d227873d1"));
  EXPECT_TRUE(on_curve(g2));
  // n·G is the point at infinity, (n-1)·G is -G.
  EXPECT_TRUE(is_infinity(double_scalar_mult(order(), natural(), generator())));
  const affine minus_g = to_affine(double_scalar_mult(sub(order(), natural(1)), natural(), generator()));
  EXPECT_EQ(minus_g.x, generator().x);
  EXPECT_EQ(minus_g.y, fe_neg(generator().y));
  // Additions that meet equal and opposite points.
  const jacobian g = to_jacobian(generator());
  EXPECT_EQ(to_affine(point_add(g, g)).x, g2.x);
  EXPECT_EQ(to_affine(point_add_affine(g, generator())).x, g2.x);
  EXPECT_TRUE(is_infinity(point_add_affine(g, minus_g)));
  // a·G + b·Q with Q = 5G equals (a + 5b)·G.
  const affine q5 = table_entry(2);
  const natural a(123457), b(98765);
  const affine lhs = to_affine(double_scalar_mult(a, b, q5));
  const affine rhs = to_affine(double_scalar_mult(add(a, mul(b, natural(5))), natural(), generator()));
  EXPECT_EQ(lhs.x, rhs.x);
  EXPECT_EQ(lhs.y, rhs.y);
}

TEST(P256Test, GeneratorTable_HoldsTheOddMultiplesOfG) {
  const jacobian g2 = point_double(to_jacobian(generator()));
  jacobian multiple = to_jacobian(generator());
  for (std::size_t i = 0; i < generator_table_size; ++i) {
    const affine expected = to_affine(multiple);
    const affine entry = table_entry(i);
    EXPECT_EQ(entry.x, expected.x) << "entry " << i;
    EXPECT_EQ(entry.y, expected.y) << "entry " << i;
    multiple = point_add(multiple, g2);
  }
}

TEST(P256Test, KeyDecoding_AcceptsAllThreeFormsAndRefusesPointsOffTheCurve) {
  const auto full = hex(openssl_vectors::ec_point);
  ASSERT_EQ(full.size(), 65u);
  const auto plain = decode_ecdsa_key(full);
  ASSERT_TRUE(plain);
  std::vector<std::uint8_t> compressed(full.begin(), full.begin() + 33);
  compressed[0] = static_cast<std::uint8_t>(0x02 | (full[64] & 1));
  std::vector<std::uint8_t> wrong_parity = compressed;
  wrong_parity[0] ^= 1;
  const std::vector<std::uint8_t> bare(full.begin() + 1, full.end());

  const auto from_compressed = decode_ecdsa_key(compressed);
  ASSERT_TRUE(from_compressed);
  EXPECT_EQ(from_compressed->y, plain->y);
  const auto other = decode_ecdsa_key(wrong_parity);
  ASSERT_TRUE(other);
  EXPECT_EQ(other->y, fe_neg(plain->y));
  ASSERT_TRUE(decode_ecdsa_key(bare));
  EXPECT_EQ(decode_ecdsa_key(bare)->x, plain->x);

  std::vector<std::uint8_t> off_curve = full;
  off_curve[64] ^= 1;
  std::vector<std::uint8_t> bad_prefix = compressed;
  bad_prefix[0] = 0x05;
  const std::vector<std::uint8_t> x_too_big(33, 0xFF);
  const std::vector<std::vector<std::uint8_t>> refused = {off_curve, bad_prefix, x_too_big, {}, {0x04},
                                                          std::vector<std::uint8_t>(full.begin(), full.end() - 1)};
  for (const auto& bytes : refused) EXPECT_FALSE(decode_ecdsa_key(bytes)) << bytes.size();
  // Roughly half of all x have no point above them.
  bool found_non_square = false;
  for (std::uint8_t x = 1; x < 40 && !found_non_square; ++x) {
    std::vector<std::uint8_t> candidate(33, 0);
    candidate[0] = 0x02;
    candidate[32] = x;
    found_non_square = !decode_ecdsa_key(candidate).has_value();
  }
  EXPECT_TRUE(found_non_square);
}

TEST(P256Test, EcdsaOpensslSignature_VerifiesAndFailsWhenAltered) {
  const auto key = hex(openssl_vectors::ec_point);
  const auto digest = hex(openssl_vectors::digest);
  auto sig = sig_bytes(openssl_vectors::ec_sig);
  EXPECT_TRUE(ecdsa_verify(key, digest32(digest), sig));
  std::vector<std::uint8_t> compressed(key.begin(), key.begin() + 33);
  compressed[0] = static_cast<std::uint8_t>(0x02 | (key[64] & 1));
  EXPECT_TRUE(ecdsa_verify(compressed, digest32(digest), sig));
  for (std::size_t i : {0u, 31u, 32u, 63u}) {
    auto altered = sig;
    altered[i] ^= 0x10;
    EXPECT_FALSE(ecdsa_verify(key, digest32(digest), altered)) << i;
  }
  auto other_digest = digest;
  other_digest[5] ^= 1;
  EXPECT_FALSE(ecdsa_verify(key, digest32(other_digest), sig));
}

TEST(P256Test, EcdsaScalarsOutOfRange_AreRefused) {
  const auto key = hex(openssl_vectors::ec_point);
  const auto digest = hex(openssl_vectors::digest);
  const auto valid = sig_bytes(openssl_vectors::ec_sig);
  std::array<std::uint8_t, 32> n_bytes{};
  order().to_be_bytes(n_bytes);
  auto with = [&](bool r_half, std::span<const std::uint8_t, 32> value) {
    auto sig = valid;
    std::copy(value.begin(), value.end(), sig.begin() + (r_half ? 0 : 32));
    return sig;
  };
  const std::array<std::uint8_t, 32> zero{};
  std::array<std::uint8_t, 32> ones;
  ones.fill(0xFF);
  for (bool r_half : {true, false}) {
    EXPECT_FALSE(ecdsa_verify(key, digest32(digest), with(r_half, zero)));
    EXPECT_FALSE(ecdsa_verify(key, digest32(digest), with(r_half, n_bytes)));
    EXPECT_FALSE(ecdsa_verify(key, digest32(digest), with(r_half, ones)));
  }
  // s and n - s are both valid ECDSA signatures of the same digest.
  std::array<std::uint8_t, 32> s_neg{};
  sub(order(), natural::from_be_bytes(std::span(valid).last<32>())).to_be_bytes(s_neg);
  EXPECT_TRUE(ecdsa_verify(key, digest32(digest), with(false, s_neg)));
}

TEST(DsaTest, OpensslSignature_VerifiesAndFailsWhenAltered) {
  const auto p = hex(openssl_vectors::p), q = hex(openssl_vectors::q), g = hex(openssl_vectors::g),
             y = hex(openssl_vectors::y), digest = hex(openssl_vectors::digest);
  const dsa_public_key key{p, q, g, y};
  const auto sig = sig_bytes(openssl_vectors::dsa_sig);
  EXPECT_TRUE(dsa_verify(key, digest32(digest), sig));
  for (std::size_t i : {0u, 17u, 32u, 63u}) {
    auto altered = sig;
    altered[i] ^= 0x01;
    EXPECT_FALSE(dsa_verify(key, digest32(digest), altered)) << i;
  }
  auto other_digest = digest;
  other_digest[31] ^= 0x80;
  EXPECT_FALSE(dsa_verify(key, digest32(other_digest), sig));
  auto other_y = y;
  other_y[100] ^= 4;
  EXPECT_FALSE(dsa_verify({p, q, g, other_y}, digest32(digest), sig));
}

TEST(DsaTest, ScalarsOutOfRangeAndMalformedKeys_AreRefused) {
  const auto p = hex(openssl_vectors::p), q = hex(openssl_vectors::q), g = hex(openssl_vectors::g),
             y = hex(openssl_vectors::y), digest = hex(openssl_vectors::digest);
  const auto sig = sig_bytes(openssl_vectors::dsa_sig);
  const natural qn = natural::from_be_bytes(q);
  auto with_half = [&](std::size_t at, const natural& value) {
    auto out = sig;
    if (value.bit_length() > 256) return out;
    value.to_be_bytes(std::span(out).subspan(at, 32));
    return out;
  };
  for (std::size_t at : {0u, 32u}) {
    EXPECT_FALSE(dsa_verify({p, q, g, y}, digest32(digest), with_half(at, natural())));
    EXPECT_FALSE(dsa_verify({p, q, g, y}, digest32(digest), with_half(at, qn)));
  }
  // s + q reduces to the same s modulo q: without the range check it would verify.
  const natural s_plus_q = add(natural::from_be_bytes(std::span(sig).last<32>()), qn);
  if (s_plus_q.bit_length() <= 256) {
    EXPECT_FALSE(dsa_verify({p, q, g, y}, digest32(digest), with_half(32, s_plus_q)));
  }

  auto even_p = p;
  even_p.back() &= 0xFE;
  const std::vector<std::uint8_t> one_g(256, 0), big_y(256, 0xFF);
  std::vector<std::uint8_t> g_one = one_g;
  g_one.back() = 1;
  EXPECT_FALSE(dsa_verify({even_p, q, g, y}, digest32(digest), sig));
  EXPECT_FALSE(dsa_verify({p, q, g_one, y}, digest32(digest), sig));
  EXPECT_FALSE(dsa_verify({p, q, g, big_y}, digest32(digest), sig));
  EXPECT_FALSE(dsa_verify({p, std::vector<std::uint8_t>(32, 0), g, y}, digest32(digest), sig));
}

}  // namespace
}  // namespace vyn::sfx::crypto

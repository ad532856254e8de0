#include "payload/bigint.h"

#include <gtest/gtest.h>

#include <vector>

#include "foundation/exceptions.h"
#include "payload/bigint_montgomery.h"
#include "payload/bigint_vector.h"

namespace vyn::sfx::crypto {
namespace {

// Deterministic pseudo-random words (splitmix64), so failures reproduce.
class random_words {
 public:
  explicit random_words(std::uint64_t seed) : state_(seed) {}
  word next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<word>(z ^ (z >> 31));
  }
  natural value(std::size_t words) {
    std::vector<word> w(words);
    for (auto& x : w) x = next();
    return natural::from_words(w.data(), w.size());
  }

 private:
  std::uint64_t state_;
};

natural from_hex(const char* hex) {
  std::vector<std::uint8_t> bytes;
  std::string text(hex);
  if (text.size() % 2) text.insert(0, "0");
  for (std::size_t i = 0; i < text.size(); i += 2) bytes.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
  return natural::from_be_bytes(bytes);
}

TEST(BigintTest, BytesRoundTrip_KeepsValueAndRefusesTooNarrowOutput) {
  const std::vector<std::uint8_t> bytes = {0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05};
  const natural n = natural::from_be_bytes(bytes);
  EXPECT_EQ(n.size(), 2u);
  EXPECT_EQ(n[0], 0x02030405u);
  EXPECT_EQ(n[1], 0x01u);
  std::vector<std::uint8_t> out(6);
  n.to_be_bytes(out);
  EXPECT_EQ(out, (std::vector<std::uint8_t>{0, 1, 2, 3, 4, 5}));
  std::vector<std::uint8_t> narrow(4);
  EXPECT_THROW(n.to_be_bytes(narrow), exceptions::error);
  EXPECT_THROW(natural::from_be_bytes(std::vector<std::uint8_t>(max_words * 4 + 1, 0xFF)), exceptions::error);
  EXPECT_TRUE(natural::from_be_bytes(std::vector<std::uint8_t>(40, 0)).is_zero());
}

TEST(BigintTest, Divide_QuotientTimesDivisorPlusRemainderGivesDividend) {
  random_words rnd(1);
  // Word counts chosen to cover single-word divisors, equal sizes and the 2^4096 / 2048-bit case.
  const std::pair<std::size_t, std::size_t> shapes[] = {{1, 1}, {5, 1}, {8, 3}, {16, 8}, {64, 8}, {129, 64}, {128, 64}, {64, 64}};
  for (const auto& [a_words, m_words] : shapes) {
    for (int round = 0; round < 20; ++round) {
      const natural a = rnd.value(a_words);
      natural m = rnd.value(m_words);
      if (m.is_zero()) continue;
      natural q, r;
      divide(a, m, &q, &r);
      EXPECT_LT(compare(r, m), 0) << a_words << "/" << m_words;
      EXPECT_EQ(add(mul(q, m), r), a) << a_words << "/" << m_words;
    }
  }
}

TEST(BigintTest, Divide_QuotientEstimatesThatNeedCorrection) {
  // Dividends and divisors where the first quotient digit guess is too large (the add-back and
  // the refinement steps of long division).
  const std::pair<const char*, const char*> cases[] = {
      {"7fffffff800000000000000000000000", "800000000000000000000001"},
      {"800000000000000000000003", "200000000000000000000001"},
      {"80000000fffffffe00000000", "8000000000000001"},
      {"ffffffffffffffffffffffffffffffff", "ffffffff00000000ffffffff"},
      {"1000000000000000000000000000000000000000", "ffffffffffffffffffffffff"},
      {"fffffffe0000000000000000", "ffffffff00000001"},
  };
  for (const auto& [a_hex, m_hex] : cases) {
    const natural a = from_hex(a_hex), m = from_hex(m_hex);
    natural q, r;
    divide(a, m, &q, &r);
    EXPECT_LT(compare(r, m), 0) << a_hex;
    EXPECT_EQ(add(mul(q, m), r), a) << a_hex;
  }
  EXPECT_THROW(mod(natural(5), natural()), exceptions::error);
}

TEST(BigintTest, ModInverse_GivesOneWhenMultipliedAndRefusesSharedFactors) {
  random_words rnd(2);
  for (std::size_t words : {1u, 8u, 64u}) {
    for (int round = 0; round < 10; ++round) {
      natural m = rnd.value(words);
      if (!m.is_odd()) m = add(m, natural(1));
      const natural a = rnd.value(words);
      try {
        const natural inv = mod_inverse(a, m);
        EXPECT_EQ(mod_mul(a, inv, m), natural(1));
      } catch (const exceptions::error&) {
        // a shares a factor with the random odd m; confirmed below for a known case
      }
    }
  }
  EXPECT_THROW(mod_inverse(natural(3), natural(9)), exceptions::error);
  EXPECT_THROW(mod_inverse(natural(0), natural(7)), exceptions::error);
  EXPECT_THROW(mod_inverse(natural(7), natural(7)), exceptions::error);
  EXPECT_THROW(mod_inverse(natural(3), natural(8)), exceptions::error);  // even modulus
  EXPECT_EQ(mod_inverse(natural(3), natural(7)), natural(5));
}

template <std::size_t N>
void expect_montgomery_matches_plain(std::uint64_t seed) {
  random_words rnd(seed);
  natural m = rnd.value(N);
  if (!m.is_odd()) m = add(m, natural(1));
  const montgomery<N> ctx(m);
  for (int round = 0; round < 20; ++round) {
    const natural a = mod(rnd.value(N + 1), m), b = mod(rnd.value(N), m);
    typename montgomery<N>::element x = ctx.to_mont(a), y = ctx.to_mont(b), z;
    ctx.mul(z, x, y);
    EXPECT_EQ(ctx.from_mont(z), mod_mul(a, b, m));
    ctx.mul(z, x, x);
    EXPECT_EQ(ctx.from_mont(z), mod_mul(a, a, m));
  }
  // Operands at the top of the range.
  const natural top = sub(m, natural(1));
  typename montgomery<N>::element x = ctx.to_mont(top), z;
  ctx.mul(z, x, x);
  EXPECT_EQ(ctx.from_mont(z), natural(1));
}

TEST(BigintTest, Montgomery_MatchesPlainModularArithmetic) {
  expect_montgomery_matches_plain<8>(3);
  expect_montgomery_matches_plain<64>(4);
  EXPECT_THROW(montgomery<8>(natural(10)), exceptions::error);
  EXPECT_THROW(montgomery<8>(natural::power_of_two(300)), exceptions::error);
}

natural plain_power(const natural& base, const natural& exponent, const natural& m) {
  natural result = mod(natural(1), m);
  for (std::size_t i = exponent.bit_length(); i-- > 0;) {
    result = mod_mul(result, result, m);
    if (exponent.bit(i)) result = mod_mul(result, base, m);
  }
  return result;
}

TEST(BigintTest, MultiExp_MatchesSquareAndMultiply) {
  random_words rnd(5);
  natural m = rnd.value(64);
  if (!m.is_odd()) m = add(m, natural(1));
  const montgomery<64> ctx(m);
  const natural g = rnd.value(64), y = rnd.value(70);  // y above m: reduced first
  const natural cases[][2] = {
      {rnd.value(8), rnd.value(8)},
      {natural(0), rnd.value(8)},
      {natural(1), natural(0)},
      {natural(0), natural(0)},
      {natural::power_of_two(255), sub(natural::power_of_two(256), natural(1))},
  };
  for (const auto& e : cases) {
    const natural bases[] = {g, y};
    const natural expected = mod_mul(plain_power(mod(g, m), e[0], m), plain_power(mod(y, m), e[1], m), m);
    EXPECT_EQ(multi_exp<64>(ctx, bases, e), expected);
  }
}

TEST(BigintTest, VectorMultiExp_MatchesThePortableOne) {
  if (!vector::available()) GTEST_SKIP() << "no SSE2 on this processor";
  std::vector<vector::width> widths = {vector::width::sse2};
  if (vector::wide_available()) widths.push_back(vector::width::avx2);
  random_words rnd(7);
  struct modulus_case {
    std::size_t words;
    bool top_bit;
  };
  for (const auto& c : {modulus_case{64, true}, modulus_case{64, false}, modulus_case{40, true}, modulus_case{1, true}}) {
    natural m = rnd.value(c.words);
    if (c.top_bit) m = add(mod(m, natural::power_of_two(32 * c.words - 1)), natural::power_of_two(32 * c.words - 1));
    if (!m.is_odd()) m = add(m, natural(1));
    if (compare(m, natural(3)) < 0) m = natural(5);
    const montgomery<64> ctx(m);
    const natural g = rnd.value(64), y = rnd.value(64);
    const natural all_ones = sub(natural::power_of_two(2048), natural(1));
    const natural exponents[][2] = {{rnd.value(8), rnd.value(8)}, {natural(0), natural(0)}, {natural(1), all_ones},
                                    {rnd.value(64), natural(2)}};
    for (const auto& e : exponents) {
      const natural bases[] = {g, y};
      const natural expected = multi_exp<64>(ctx, bases, e);
      for (vector::width w : widths) EXPECT_EQ(vector::multi_exp(m, bases, e, w), expected) << c.words;
      EXPECT_EQ(vector::multi_exp(m, std::span(bases, 1), std::span(e, 1)),
                multi_exp<64>(ctx, std::span(bases, 1), std::span(e, 1)));
    }
  }
  // The largest modulus: m = 2^2048 - 159 (odd), bases and exponents at the top of their ranges.
  const natural m = sub(natural::power_of_two(2048), natural(159));
  const montgomery<64> ctx(m);
  const natural top = sub(m, natural(1));
  const natural bases[] = {top, sub(m, natural(2))};
  const natural e[] = {sub(natural::power_of_two(256), natural(1)), sub(natural::power_of_two(255), natural(3))};
  for (vector::width w : widths) EXPECT_EQ(vector::multi_exp(m, bases, e, w), multi_exp<64>(ctx, bases, e));
  EXPECT_THROW(vector::multi_exp(natural::power_of_two(2048), bases, e), exceptions::error);
  EXPECT_THROW(vector::multi_exp(add(natural::power_of_two(2048), natural(1)), bases, e), exceptions::error);
}

TEST(BigintTest, WindowDigits_SumToTheExponentAndStayOdd) {
  random_words rnd(6);
  const natural e = rnd.value(8);
  std::vector<std::uint8_t> digits(300);
  const std::size_t end = window_digits(e, 4, digits);
  natural sum;
  for (std::size_t i = end; i-- > 0;) {
    sum = add(sum, sum);
    sum = add(sum, natural(digits[i]));
    EXPECT_TRUE(digits[i] == 0 || (digits[i] % 2 == 1 && digits[i] < 16));
  }
  EXPECT_EQ(sum, e);
}

}  // namespace
}  // namespace vyn::sfx::crypto

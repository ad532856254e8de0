#include "foundation/sha256.h"

#include <cstring>
#include <stdexcept>

#include "foundation/exceptions.h"
#include "foundation/sha256_transforms.h"

namespace vyn::root {

namespace detail {

alignas(16) const std::uint32_t sha256_round_constants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

namespace {

constexpr std::uint32_t rotr(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

// One round with the working variables passed in their rotated order: instead of shifting all
// eight, d takes the new e and h the new a, and the next call names them one place further on.
inline void round(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t& d,
                  std::uint32_t e, std::uint32_t f, std::uint32_t g, std::uint32_t& h,
                  std::uint32_t kw) {
  const std::uint32_t t1 = h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + (g ^ (e & (f ^ g))) + kw;
  const std::uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) | (c & (a | b)));
  d += t1;
  h = t1 + t2;
}

}  // namespace

void sha256_transform_plain(std::uint32_t* h, const std::uint8_t* data, std::size_t blocks) {
  const std::uint32_t* k = sha256_round_constants;
  for (; blocks != 0; --blocks, data += 64) {
    std::uint32_t w[64];
    for (int i = 0; i < 16; ++i) {
      w[i] = (std::uint32_t{data[4 * i]} << 24) | (std::uint32_t{data[4 * i + 1]} << 16) |
             (std::uint32_t{data[4 * i + 2]} << 8) | std::uint32_t{data[4 * i + 3]};
    }
    for (int i = 16; i < 64; ++i) {
      const std::uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
      const std::uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
    for (int i = 0; i < 64; i += 8) {
      round(a, b, c, d, e, f, g, hh, k[i] + w[i]);
      round(hh, a, b, c, d, e, f, g, k[i + 1] + w[i + 1]);
      round(g, hh, a, b, c, d, e, f, k[i + 2] + w[i + 2]);
      round(f, g, hh, a, b, c, d, e, k[i + 3] + w[i + 3]);
      round(e, f, g, hh, a, b, c, d, k[i + 4] + w[i + 4]);
      round(d, e, f, g, hh, a, b, c, k[i + 5] + w[i + 5]);
      round(c, d, e, f, g, hh, a, b, k[i + 6] + w[i + 6]);
      round(b, c, d, e, f, g, hh, a, k[i + 7] + w[i + 7]);
    }
    h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e, h[5] += f, h[6] += g, h[7] += hh;
  }
}

}  // namespace detail

namespace {

constexpr std::uint32_t initial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                      0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

int hex_value(char32_t c) {
  if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
  return -1;
}

template <class Char>
std::vector<std::uint8_t> parse_hex(std::basic_string_view<Char> text, const char* error_text) {
  std::vector<std::uint8_t> bytes;
  if (text.size() % 2 != 0) return bytes;
  bytes.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int high = hex_value(static_cast<char32_t>(text[i]));
    const int low = hex_value(static_cast<char32_t>(text[i + 1]));
    if (high < 0 || low < 0) throw std::invalid_argument(error_text);
    bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
  }
  return bytes;
}

}  // namespace

struct sha256::state {
  std::uint32_t h[8];
  std::uint8_t buffer[64];
  std::size_t buffered = 0;
  std::uint64_t total = 0;
  transform_fn transform = nullptr;
};

digest::digest(std::string_view hex) : bytes_(parse_hex(hex, "invalid hex_char_value<char>")) {}
digest::digest(std::wstring_view hex) : bytes_(parse_hex(hex, "invalid hex_char_value<wchar_t>")) {}

std::string digest::hex() const {
  static constexpr char digits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes_.size() * 2);
  for (auto b : bytes_) {
    text += digits[b >> 4];
    text += digits[b & 0xF];
  }
  return text;
}

std::wstring digest::whex() const {
  const std::string narrow = hex();
  return {narrow.begin(), narrow.end()};
}

sha256::sha256() { reset(); }
sha256::sha256(transform_fn transform) : pinned_(transform) { reset(); }
sha256::~sha256() = default;

sha256::transform_fn sha256::plain_transform() { return &detail::sha256_transform_plain; }

sha256::transform_fn sha256::hardware_transform() {
  return detail::sha256_hardware_available() ? &detail::sha256_transform_hardware : nullptr;
}

sha256::transform_fn sha256::selected_transform() {
  static const transform_fn chosen = [] {
    const transform_fn hardware = hardware_transform();
    return hardware ? hardware : plain_transform();
  }();
  return chosen;
}

void sha256::reset() {
  state_ = std::make_unique<state>();
  std::memcpy(state_->h, initial, sizeof(initial));
  state_->transform = pinned_ ? pinned_ : selected_transform();
}

void sha256::update(const void* data, std::size_t length) {
  auto* s = state_.get();
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  s->total += length;
  if (s->buffered != 0) {
    const std::size_t take = std::min(length, 64 - s->buffered);
    std::memcpy(s->buffer + s->buffered, bytes, take);
    s->buffered += take, bytes += take, length -= take;
    if (s->buffered < 64) return;
    s->transform(s->h, s->buffer, 1);
    s->buffered = 0;
  }
  if (const std::size_t blocks = length / 64) {
    s->transform(s->h, bytes, blocks);
    bytes += blocks * 64, length -= blocks * 64;
  }
  std::memcpy(s->buffer, bytes, length);
  s->buffered = length;
}

void sha256::finish(std::uint8_t* out) {
  auto* s = state_.get();
  const std::uint64_t bits = s->total * 8;
  std::uint8_t tail[72] = {0x80};
  const std::size_t pad = (s->buffered < 56 ? 56 : 120) - s->buffered;
  for (int i = 0; i < 8; ++i) tail[pad + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
  update(tail, pad + 8);
  for (int i = 0; i < 8; ++i) {
    out[4 * i] = static_cast<std::uint8_t>(s->h[i] >> 24);
    out[4 * i + 1] = static_cast<std::uint8_t>(s->h[i] >> 16);
    out[4 * i + 2] = static_cast<std::uint8_t>(s->h[i] >> 8);
    out[4 * i + 3] = static_cast<std::uint8_t>(s->h[i]);
  }
}

digest finish_digest(detail::basic_hash& hash) {
  digest result(hash.digest_length());
  if (result.empty()) throw exceptions::error("The digest is not initialized!");
  hash.finish(result.bytes().data());
  return result;
}

digest digest_of(detail::basic_hash& hash, std::span<const std::uint8_t> bytes) {
  hash.reset();
  hash.update(bytes.data(), bytes.size());
  return finish_digest(hash);
}

}  // namespace vyn::root

#pragma once
// SHA-256 (FIPS 180-4) and the digest value shared by the payload, the signature checks and the
// random pool.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vyn::root {

// Digest bytes. From hexadecimal text: pairs of digits, either case; text of odd length gives an
// empty digest; any other character raises std::invalid_argument.
class digest {
 public:
  digest() = default;
  explicit digest(std::size_t zero_bytes) : bytes_(zero_bytes, 0) {}
  explicit digest(std::string_view hex);
  explicit digest(std::wstring_view hex);
  virtual ~digest() = default;
  digest(const digest&) = default;
  digest& operator=(const digest&) = default;

  const std::vector<std::uint8_t>& bytes() const noexcept { return bytes_; }
  std::vector<std::uint8_t>& bytes() noexcept { return bytes_; }
  bool empty() const noexcept { return bytes_.empty(); }
  // Lower-case hexadecimal text, two digits per byte.
  std::string hex() const;
  std::wstring whex() const;

  bool operator==(const digest& other) const { return bytes_ == other.bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

namespace detail {

class basic_hash {
 public:
  virtual void reset() = 0;
  virtual void update(const void* data, std::size_t length) = 0;
  // Writes digest_length() bytes to out.
  virtual void finish(std::uint8_t* out) = 0;
  virtual std::size_t digest_length() const = 0;
  virtual ~basic_hash() = default;
};

}  // namespace detail

class sha256 : public detail::basic_hash {
 public:
  struct state;
  // One block transform over `blocks` 64-byte blocks.
  using transform_fn = void (*)(std::uint32_t* h, const std::uint8_t* data, std::size_t blocks);

  sha256();
  // Always uses the given transform (tests and benchmarks compare the variants).
  explicit sha256(transform_fn transform);
  ~sha256() override;
  void reset() override;
  void update(const void* data, std::size_t length) override;
  void finish(std::uint8_t* out) override;
  std::size_t digest_length() const override { return 32; }

  // The transform this process uses: chosen once, the hardware one when the processor offers it.
  static transform_fn selected_transform();
  static transform_fn plain_transform();
  // The transform on the processor's SHA extensions, or null when the processor lacks them.
  static transform_fn hardware_transform();

 private:
  std::unique_ptr<state> state_;
  transform_fn pinned_ = nullptr;
};

// Makes a digest of the algorithm's length and lets the algorithm write into it.
digest finish_digest(detail::basic_hash& hash);
// Reset, one update over bytes, finish.
digest digest_of(detail::basic_hash& hash, std::span<const std::uint8_t> bytes);

}  // namespace vyn::root

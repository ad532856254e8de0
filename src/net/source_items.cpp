#include "net/source_items.h"

#include <string_view>

#include "foundation/exceptions.h"

namespace vyn::mi {
namespace {

constexpr std::uint32_t invalid_data = 13;

void put_u32(std::vector<std::uint8_t>& out, std::size_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void put_bytes(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> bytes) {
  put_u32(out, bytes.size());
  out.insert(out.end(), bytes.begin(), bytes.end());
}

class reader {
 public:
  explicit reader(std::span<const std::uint8_t> bytes) : rest_(bytes) {}

  std::uint32_t u32() {
    const auto bytes = take(4);
    return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
  }
  std::span<const std::uint8_t> block() { return take(u32()); }
  bool done() const { return rest_.empty(); }

 private:
  std::span<const std::uint8_t> take(std::size_t size) {
    if (size > rest_.size()) throw exceptions::error(invalid_data, "Not enough data in buffer");
    const auto bytes = rest_.first(size);
    rest_ = rest_.subspan(size);
    return bytes;
  }

  std::span<const std::uint8_t> rest_;
};

}  // namespace

std::vector<std::uint8_t> serialise_source_items(const source_items& items) {
  std::vector<std::uint8_t> out;
  put_u32(out, items.size());
  for (const auto& [name, value] : items) {
    put_bytes(out, std::span(reinterpret_cast<const std::uint8_t*>(name.data()), name.size()));
    put_bytes(out, value);
  }
  return out;
}

source_items parse_source_items(std::span<const std::uint8_t> bytes) {
  reader in(bytes);
  source_items items;
  // Each item takes at least 8 bytes, so a count can never exceed the buffer by much: the
  // loop ends at the first item that is not there.
  for (std::uint32_t count = in.u32(); count > 0; --count) {
    const auto name = in.block();
    const auto value = in.block();
    items[std::string(name.begin(), name.end())].assign(value.begin(), value.end());
  }
  if (!in.done()) throw exceptions::error(invalid_data, "Unexpected data after the source items");
  return items;
}

std::vector<std::string> changed_items(const source_items& stored, const source_items& current) {
  std::vector<std::string> changed;
  for (const auto& [name, value] : stored) {
    const auto now = current.find(name);
    if (now == current.end() || now->second != value) changed.push_back(name);
  }
  return changed;
}

}  // namespace vyn::mi

#pragma once
// A key folder as keygen writes it and the build reads it:
//
//   keys.txt          the index: one key per line, "<set> <dsa|ecdsa> <name>", in the order the
//                     verifier tries them within their set; '#' starts a comment
//   <name>.pub        the public values as "<field> <hex>" lines: p, q, g, y (DSA; 256, 32, 256
//                     and 256 bytes, big-endian) or point (ECDSA P-256; 65 bytes 04 ‖ X ‖ Y)
//   <name>.pem        the private key, PKCS#8 PEM, readable by the owner only (absent from a
//                     folder that only verifies)

#include <cstdint>
#include <filesystem>
#include <list>
#include <span>
#include <string>
#include <vector>

#include "payload/signature_check.h"

namespace vyn::tool {

using sfx::signature::key_kind;

struct key_entry {
  unsigned set = 0;
  key_kind kind = key_kind::dsa;
  std::string name;
  std::size_t index = 0;  // position among the keys of its kind within its set
};

struct public_values {
  std::vector<std::uint8_t> p, q, g, y;  // DSA
  std::vector<std::uint8_t> point;       // ECDSA
};

class key_folder {
 public:
  // Reads the index; raises tool_error(exit_key) when it is missing or malformed.
  explicit key_folder(std::filesystem::path folder);

  const std::filesystem::path& path() const noexcept { return folder_; }
  const std::vector<key_entry>& entries() const noexcept { return entries_; }

  // "dsa:1", "ecdsa:0" (kind and index within the set) or a key name; raises tool_error(exit_key).
  const key_entry& find(unsigned set, const std::string& selector) const;

  std::filesystem::path public_file(const key_entry& entry) const;
  std::filesystem::path private_file(const key_entry& entry) const;
  // Parses and checks the entry's public file; raises tool_error(exit_key).
  public_values read_public(const key_entry& entry) const;

 private:
  std::filesystem::path folder_;
  std::vector<key_entry> entries_;
};

// A key set read from a key folder's public files, for checking against keys other than the
// ones built into this tool. Owns the bytes its spans point into.
struct folder_key_set {
  std::list<public_values> values;
  std::vector<sfx::crypto::dsa_public_key> dsa;
  std::vector<std::span<const std::uint8_t>> ecdsa;
  sfx::keys::key_set set;
};

// Fills out with the folder's keys of set id; raises tool_error(exit_key) when it has none.
void load_set(const key_folder& folder, unsigned id, folder_key_set& out);

// True when the key is one of the development keys of keys/dev, whose private halves are public
// (compared by its public value, so a copied or renamed development key is one too).
bool is_development_key(const key_entry& entry, const public_values& values);

// The SHA-256 of each development key's public value; generated from keys/dev by the build.
std::span<const std::string_view> development_key_digests() noexcept;

std::string_view kind_name(key_kind kind) noexcept;
std::string format_index(const std::vector<key_entry>& entries);
std::string format_public(key_kind kind, const public_values& values);

}  // namespace vyn::tool

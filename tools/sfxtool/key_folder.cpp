#include "key_folder.h"

#include <fstream>
#include <sstream>

#include "command.h"
#include "file_io.h"
#include "foundation/sha256.h"

namespace vyn::tool {
namespace {

constexpr const char* index_name = "keys.txt";

[[noreturn]] void key_failure(const std::string& message) { throw tool_error(exit_key, message); }

bool valid_name(const std::string& name) {
  if (name.empty() || name.size() > 64) return false;
  for (char c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') return false;
  }
  return true;
}

// Lines with comments and surrounding blanks removed; empty lines skipped.
std::vector<std::pair<std::size_t, std::string>> content_lines(const std::string& text) {
  std::vector<std::pair<std::size_t, std::string>> lines;
  std::istringstream in(text);
  std::string line;
  for (std::size_t number = 1; std::getline(in, line); ++number) {
    if (const auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    const auto first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos) continue;
    line = line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
    lines.emplace_back(number, line);
  }
  return lines;
}

std::string read_text(const std::filesystem::path& path) {
  const auto data = read_file(path);
  return {data.begin(), data.end()};
}

std::vector<std::uint8_t> parse_hex(const std::string& text, std::size_t expected, const std::string& what) {
  try {
    const root::digest bytes{std::string_view(text)};
    if (bytes.bytes().size() == expected && text.size() == 2 * expected) return bytes.bytes();
  } catch (const std::invalid_argument&) {
  }
  key_failure(what + " must be " + std::to_string(expected) + " bytes of hexadecimal digits");
}

// Lower-case hexadecimal text of bytes, as the public files and the build's digests write it.
std::string hex_text(const std::vector<std::uint8_t>& bytes) {
  root::digest d;
  d.bytes() = bytes;
  return d.hex();
}

}  // namespace

void load_set(const key_folder& folder, unsigned id, folder_key_set& out) {
  for (const auto& entry : folder.entries()) {
    if (entry.set != id) continue;
    const auto& v = out.values.emplace_back(folder.read_public(entry));
    if (entry.kind == key_kind::dsa) {
      out.dsa.push_back({v.p, v.q, v.g, v.y});
    } else {
      out.ecdsa.emplace_back(v.point);
    }
  }
  if (out.dsa.empty() && out.ecdsa.empty()) {
    throw tool_error(exit_key, folder.path().string() + " has no keys of key set " + std::to_string(id));
  }
  out.set = {id, out.dsa, out.ecdsa};
}

bool is_development_key(const key_entry& entry, const public_values& values) {
  // The SHA-256 of the key's public value (the DSA key's y, the ECDSA point) in lower-case
  // hexadecimal, as the build lists those of keys/dev.
  const std::string text = hex_text(entry.kind == key_kind::dsa ? values.y : values.point);
  root::sha256 hash;
  const std::string digest =
      root::digest_of(hash, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())).hex();
  for (const std::string_view known : development_key_digests()) {
    if (known == digest) return true;
  }
  return false;
}

std::string_view kind_name(key_kind kind) noexcept { return kind == key_kind::dsa ? "dsa" : "ecdsa"; }

key_folder::key_folder(std::filesystem::path folder) : folder_(std::move(folder)) {
  const auto index = folder_ / index_name;
  if (!std::filesystem::exists(index)) key_failure("no key folder at '" + folder_.string() + "' (" + index_name + " is missing)");
  std::string text;
  try {
    text = read_text(index);
  } catch (const tool_error& e) {
    key_failure(e.what());
  }
  for (const auto& [number, line] : content_lines(text)) {
    std::istringstream in(line);
    unsigned set = 0;
    std::string kind, name, rest;
    const auto where = index.string() + ":" + std::to_string(number);
    if (!(in >> set >> kind >> name) || (in >> rest)) key_failure(where + ": expected '<set> <dsa|ecdsa> <name>'");
    if (set > 255) key_failure(where + ": key set " + std::to_string(set) + " out of range");
    if (kind != "dsa" && kind != "ecdsa") key_failure(where + ": unknown key kind '" + kind + "'");
    if (!valid_name(name)) key_failure(where + ": key name '" + name + "' must be letters, digits, '-' or '_'");
    key_entry entry{set, kind == "dsa" ? key_kind::dsa : key_kind::ecdsa, name, 0};
    for (const auto& other : entries_) {
      if (other.name == name) key_failure(where + ": key name '" + name + "' listed twice");
      if (other.set == set && other.kind == entry.kind) ++entry.index;
    }
    entries_.push_back(entry);
  }
  if (entries_.empty()) key_failure(index.string() + " lists no keys");
}

const key_entry& key_folder::find(unsigned set, const std::string& selector) const {
  const auto colon = selector.find(':');
  if (colon != std::string::npos) {
    const std::string kind = selector.substr(0, colon);
    if (kind != "dsa" && kind != "ecdsa") key_failure("key selector '" + selector + "': kind must be dsa or ecdsa");
    std::size_t index = 0;
    try {
      std::size_t used = 0;
      index = std::stoul(selector.substr(colon + 1), &used);
      if (used != selector.size() - colon - 1) throw std::invalid_argument(selector);
    } catch (const std::exception&) {
      key_failure("key selector '" + selector + "': expected <dsa|ecdsa>:<index>");
    }
    for (const auto& entry : entries_) {
      if (entry.set == set && kind_name(entry.kind) == kind && entry.index == index) return entry;
    }
    key_failure("key set " + std::to_string(set) + " has no " + kind + " key " + std::to_string(index));
  }
  for (const auto& entry : entries_) {
    if (entry.name == selector) {
      if (entry.set != set) {
        key_failure("key '" + selector + "' belongs to key set " + std::to_string(entry.set) + ", not " +
                    std::to_string(set));
      }
      return entry;
    }
  }
  key_failure("no key named '" + selector + "' in " + folder_.string());
}

std::filesystem::path key_folder::public_file(const key_entry& entry) const { return folder_ / (entry.name + ".pub"); }

std::filesystem::path key_folder::private_file(const key_entry& entry) const { return folder_ / (entry.name + ".pem"); }

public_values key_folder::read_public(const key_entry& entry) const {
  const auto path = public_file(entry);
  std::string text;
  try {
    text = read_text(path);
  } catch (const tool_error& e) {
    key_failure(e.what());
  }
  public_values values;
  for (const auto& [number, line] : content_lines(text)) {
    std::istringstream in(line);
    std::string field, hex, rest;
    const auto where = path.string() + ":" + std::to_string(number);
    if (!(in >> field >> hex) || (in >> rest)) key_failure(where + ": expected '<field> <hex>'");
    std::vector<std::uint8_t>* target = nullptr;
    std::size_t size = 0;
    if (entry.kind == key_kind::dsa) {
      if (field == "p") target = &values.p, size = 256;
      if (field == "q") target = &values.q, size = 32;
      if (field == "g") target = &values.g, size = 256;
      if (field == "y") target = &values.y, size = 256;
    } else if (field == "point") {
      target = &values.point, size = 65;
    }
    if (!target) key_failure(where + ": unexpected field '" + field + "'");
    if (!target->empty()) key_failure(where + ": field '" + field + "' given twice");
    *target = parse_hex(hex, size, where + ": " + field);
  }
  const bool complete = entry.kind == key_kind::dsa
                            ? !values.p.empty() && !values.q.empty() && !values.g.empty() && !values.y.empty()
                            : !values.point.empty();
  if (!complete) key_failure(path.string() + ": incomplete public key");
  return values;
}

std::string format_index(const std::vector<key_entry>& entries) {
  std::string text =
      "# Key folder index: one key per line, \"<set> <dsa|ecdsa> <name>\". Within a set the\n"
      "# verifier tries the DSA keys in this order, then the ECDSA keys. <name>.pub holds the\n"
      "# public values, <name>.pem the private key.\n";
  for (const auto& e : entries) text += std::to_string(e.set) + " " + std::string(kind_name(e.kind)) + " " + e.name + "\n";
  return text;
}

std::string format_public(key_kind kind, const public_values& values) {
  if (kind == key_kind::dsa) {
    return "# DSA public key: domain p (2048 bits), q (256 bits), g, and y, big-endian hexadecimal\n"
           "p " + hex_text(values.p) + "\nq " + hex_text(values.q) + "\ng " + hex_text(values.g) + "\ny " + hex_text(values.y) + "\n";
  }
  return "# ECDSA public key: NIST P-256 point 04 || X || Y, hexadecimal\npoint " + hex_text(values.point) + "\n";
}

}  // namespace vyn::tool

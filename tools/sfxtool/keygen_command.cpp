// keygen: a new key folder with every key set the stub knows.

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "arguments.h"
#include "command.h"
#include "file_io.h"
#include "key_folder.h"
#include "openssl_keys.h"
#include "payload/dsa_verify.h"
#include "payload/ecc_ecdsa.h"

namespace vyn::tool {
namespace {

struct set_layout {
  unsigned set;
  unsigned dsa;
  unsigned ecdsa;
  bool shared_domain;  // all DSA keys of the set share one domain
};

// The forms and counts the stub's key table expects.
constexpr set_layout layouts[] = {{7, 2, 2, true},   {8, 10, 7, false}, {0, 3, 2, false}, {1, 4, 3, false},
                                  {2, 5, 2, false},  {3, 3, 3, false},  {4, 4, 2, false}, {5, 5, 3, false}};

constexpr std::string_view folder_note =
    "This key folder was made by 'sfxtool keygen'. The .pem files are PRIVATE signing keys: keep\n"
    "them offline and never commit them. Build the stub with -DVYN_KEY_DIR=<this folder>; only the\n"
    ".pub files and keys.txt are read by the build.\n";

// Signs a fixed digest with libcrypto and checks it with the stub's own code, so that every key
// written is one the stub can verify.
void self_check(EVP_PKEY* key, key_kind kind, const public_values& values, const std::string& name) {
  std::array<std::uint8_t, 32> digest{};
  for (std::size_t i = 0; i < digest.size(); ++i) digest[i] = static_cast<std::uint8_t>(i * 7 + 1);
  const auto sig = openssl::sign_digest(key, digest);
  const bool ok = kind == key_kind::dsa
                      ? sfx::crypto::dsa_verify({values.p, values.q, values.g, values.y}, digest, sig)
                      : sfx::crypto::ecdsa_verify(values.point, digest, sig);
  if (!ok) throw tool_error(exit_crypto, "self-check of the new key " + name + " failed");
}

void write_key(const std::filesystem::path& folder, EVP_PKEY* key, const key_entry& entry,
               std::vector<key_entry>& index) {
  const auto values = openssl::public_of(key, entry.kind);
  self_check(key, entry.kind, values, entry.name);
  write_file(folder / (entry.name + ".pem"), openssl::private_pem(key), true);
  write_file(folder / (entry.name + ".pub"), format_public(entry.kind, values));
  index.push_back(entry);
}

void generate_set(const std::filesystem::path& folder, const set_layout& layout, std::vector<key_entry>& index) {
  const std::string prefix = "set" + std::to_string(layout.set) + "-";
  openssl::pkey shared;
  for (unsigned i = 0; i < layout.dsa; ++i) {
    std::fprintf(stderr, "key set %u: DSA key %u of %u (domain generation takes a while)\n", layout.set, i + 1,
                 layout.dsa);
    openssl::pkey own;
    if (!layout.shared_domain || !shared) own = openssl::generate_dsa_domain();
    if (layout.shared_domain && !shared) shared = std::move(own);
    const auto key = openssl::generate_dsa_key(layout.shared_domain ? shared.get() : own.get());
    write_key(folder, key.get(), {layout.set, key_kind::dsa, prefix + "dsa-" + std::to_string(i), i}, index);
  }
  for (unsigned i = 0; i < layout.ecdsa; ++i) {
    const auto key = openssl::generate_ecdsa_key();
    write_key(folder, key.get(), {layout.set, key_kind::ecdsa, prefix + "ecdsa-" + std::to_string(i), i}, index);
  }
}

int run(const std::vector<std::string>& raw) {
  const arguments args(raw, {});
  if (args.positional().size() != 1) throw tool_error(exit_usage, "keygen needs exactly one folder");
  const std::filesystem::path folder = args.positional()[0];
  std::error_code ec;
  if (std::filesystem::exists(folder, ec) && !std::filesystem::is_empty(folder, ec)) {
    throw tool_error(exit_refused, "'" + folder.string() + "' exists and is not empty; keygen never replaces keys");
  }
  // Built beside the target and renamed into place at the end: a failure leaves no partial folder.
  std::filesystem::path temp = folder;
  temp += ".keygen-" + std::to_string(::getpid());
  std::filesystem::remove_all(temp, ec);
  if (!std::filesystem::create_directories(temp, ec)) {
    throw tool_error(exit_io, "cannot create '" + temp.string() + "': " + ec.message());
  }
  std::filesystem::permissions(temp, std::filesystem::perms::owner_all, ec);
  try {
    std::vector<key_entry> index;
    for (const auto& layout : layouts) generate_set(temp, layout, index);
    write_file(temp / "keys.txt", format_index(index));
    write_file(temp / "README.txt", folder_note);
    std::filesystem::remove(folder, ec);  // an empty folder given by the caller
    std::filesystem::rename(temp, folder);
    std::printf("wrote %zu keys in %zu key sets to %s\n", index.size(), std::size(layouts), folder.c_str());
  } catch (...) {
    std::filesystem::remove_all(temp, ec);
    throw;
  }
  return exit_ok;
}

}  // namespace

const command keygen_command{
    "keygen", "create a key folder with new keys for every key set",
    "usage: sfxtool keygen FOLDER\n"
    "\n"
    "Creates FOLDER (which must not exist or be empty) with new signing keys:\n"
    "  key set 7     2 DSA keys sharing one domain, 2 ECDSA keys  (the stub, sfx-info.xml, downloads)\n"
    "  key set 8     10 DSA keys, 7 ECDSA keys                    (the launching-stub check)\n"
    "  key sets 0-5  3 to 5 DSA keys, 2 or 3 ECDSA keys           (reserved)\n"
    "DSA keys use 2048-bit p and 256-bit q; ECDSA keys use NIST P-256. Every key is checked with\n"
    "the stub's own verifier before it is written.\n"
    "\n"
    "Files: keys.txt (index: '<set> <dsa|ecdsa> <name>' per line, in the order the verifier tries\n"
    "them), <name>.pub (public values in hexadecimal) and <name>.pem (PKCS#8 private key, mode 0600).\n",
    run};

}  // namespace vyn::tool

#include "signing_key.h"

#include <cstdio>

#include "command.h"
#include "payload/dsa_verify.h"
#include "payload/ecc_ecdsa.h"

namespace vyn::tool {
namespace {

const std::string& required(const std::optional<std::string>& value) {
  if (!value) throw tool_error(exit_usage, "signing needs --keys and --key");
  return *value;
}

}  // namespace

signing_key::signing_key(const arguments& args)
    : folder_(required(args.value("keys"))),
      set_(args.number("set", 7, 0, 255)),
      entry_(folder_.find(set_, required(args.value("key")))),
      values_(folder_.read_public(entry_)),
      key_(openssl::load_private(folder_.private_file(entry_), entry_.kind)) {}

sfx::signature::digest_signer signing_key::signer() const {
  return [this](std::span<const std::uint8_t, 32> digest) {
    const auto sig = openssl::sign_digest(key_.get(), digest);
    const bool ok = entry_.kind == key_kind::dsa
                        ? sfx::crypto::dsa_verify({values_.p, values_.q, values_.g, values_.y}, digest, sig)
                        : sfx::crypto::ecdsa_verify(values_.point, digest, sig);
    if (!ok) {
      throw tool_error(exit_crypto, "the signature made with " + folder_.private_file(entry_).string() +
                                        " does not verify against " + folder_.public_file(entry_).string());
    }
    return sig;
  };
}

std::string signing_key::describe() const {
  return "key set " + std::to_string(set_) + ", " + std::string(kind_name(entry_.kind)) + " key " +
         std::to_string(entry_.index) + " (" + entry_.name + ")";
}

bool signing_key::development() const { return is_development_key(entry_, values_); }

void signing_key::warn_if_development() const {
  if (!development()) return;
  std::fprintf(stderr,
               "warning: %s is a development key of keys/dev, whose private half is public: anyone can sign "
               "what it accepts, so never ship what it signs\n",
               describe().c_str());
}

sfx::signature::signed_output signing_key::sign(sfx::signature::bytes data,
                                                const sfx::signature::sign_options& options,
                                                const std::string& what) const {
  try {
    return sfx::signature::sign_data(data, options, signer());
  } catch (const sfx::signature::refused& e) {
    throw tool_error(exit_refused, what + ": " + e.what());
  }
}

}  // namespace vyn::tool

#include "openssl_keys.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/dsa.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/pem.h>

#include "command.h"

namespace vyn::tool::openssl {
namespace {

struct ctx_free {
  void operator()(EVP_PKEY_CTX* ctx) const noexcept { EVP_PKEY_CTX_free(ctx); }
};
using pkey_ctx = std::unique_ptr<EVP_PKEY_CTX, ctx_free>;

struct bio_free {
  void operator()(BIO* bio) const noexcept { BIO_free(bio); }
};
struct bn_free {
  void operator()(BIGNUM* bn) const noexcept { BN_free(bn); }
};

// Raises with the message and libcrypto's first queued error.
[[noreturn]] void crypto_failure(const std::string& what) {
  const unsigned long code = ERR_get_error();
  char text[256] = "no detail";
  if (code != 0) ERR_error_string_n(code, text, sizeof text);
  ERR_clear_error();
  throw tool_error(exit_crypto, what + " (" + text + ")");
}

pkey_ctx context_for(const char* algorithm) {
  pkey_ctx ctx(EVP_PKEY_CTX_new_from_name(nullptr, algorithm, nullptr));
  if (!ctx) crypto_failure(std::string("cannot create a ") + algorithm + " context");
  return ctx;
}

std::vector<std::uint8_t> bn_param(EVP_PKEY* key, const char* name, std::size_t size) {
  BIGNUM* raw = nullptr;
  if (EVP_PKEY_get_bn_param(key, name, &raw) != 1) crypto_failure(std::string("cannot read the key's ") + name);
  std::unique_ptr<BIGNUM, bn_free> bn(raw);
  std::vector<std::uint8_t> out(size);
  if (BN_bn2binpad(bn.get(), out.data(), static_cast<int>(size)) < 0) {
    crypto_failure(std::string("the key's ") + name + " does not fit " + std::to_string(size) + " bytes");
  }
  return out;
}

}  // namespace

// The generation hash is left at its default (SHA-256 for these sizes): with libcrypto 3.0 a hash
// set on the context is referenced, not copied, by the domain, which then fails once the
// context is gone.
pkey generate_dsa_domain() {
  auto ctx = context_for("DSA");
  EVP_PKEY* params = nullptr;
  if (EVP_PKEY_paramgen_init(ctx.get()) != 1 || EVP_PKEY_CTX_set_dsa_paramgen_bits(ctx.get(), 2048) != 1 ||
      EVP_PKEY_CTX_set_dsa_paramgen_q_bits(ctx.get(), 256) != 1 || EVP_PKEY_paramgen(ctx.get(), &params) != 1) {
    crypto_failure("DSA domain generation failed");
  }
  return pkey(params);
}

pkey generate_dsa_key(EVP_PKEY* domain) {
  pkey_ctx ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, domain, nullptr));
  EVP_PKEY* key = nullptr;
  if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 || EVP_PKEY_keygen(ctx.get(), &key) != 1) {
    crypto_failure("DSA key generation failed");
  }
  return pkey(key);
}

pkey generate_ecdsa_key() {
  EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
  if (!key) crypto_failure("ECDSA key generation failed");
  return pkey(key);
}

std::string private_pem(EVP_PKEY* key) {
  std::unique_ptr<BIO, bio_free> bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    crypto_failure("cannot encode the private key");
  }
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(size));
}

public_values public_of(EVP_PKEY* key, key_kind kind) {
  public_values values;
  if (kind == key_kind::dsa) {
    values.p = bn_param(key, OSSL_PKEY_PARAM_FFC_P, 256);
    values.q = bn_param(key, OSSL_PKEY_PARAM_FFC_Q, 32);
    values.g = bn_param(key, OSSL_PKEY_PARAM_FFC_G, 256);
    values.y = bn_param(key, OSSL_PKEY_PARAM_PUB_KEY, 256);
    return values;
  }
  values.point.resize(65);
  std::size_t size = 0;
  if (EVP_PKEY_set_utf8_string_param(key, OSSL_PKEY_PARAM_EC_POINT_CONVERSION_FORMAT,
                                     OSSL_PKEY_EC_POINT_CONVERSION_FORMAT_UNCOMPRESSED) != 1 ||
      EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, values.point.data(),
                                      values.point.size(), &size) != 1 ||
      size != 65 || values.point[0] != 0x04) {
    crypto_failure("cannot read the ECDSA public point");
  }
  return values;
}

pkey load_private(const std::filesystem::path& path, key_kind kind) {
  std::unique_ptr<BIO, bio_free> bio(BIO_new_file(path.c_str(), "r"));
  if (!bio) {
    ERR_clear_error();
    throw tool_error(exit_key, "cannot open the private key '" + path.string() + "'");
  }
  pkey key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
  if (!key) {
    ERR_clear_error();
    throw tool_error(exit_key, "'" + path.string() + "' holds no readable PEM private key");
  }
  const bool matches = kind == key_kind::dsa ? EVP_PKEY_is_a(key.get(), "DSA") : EVP_PKEY_is_a(key.get(), "EC");
  if (!matches) {
    throw tool_error(exit_key, "'" + path.string() + "' is not a " + std::string(kind_name(kind)) + " key");
  }
  return key;
}

std::array<std::uint8_t, 64> sign_digest(EVP_PKEY* key, std::span<const std::uint8_t, 32> digest) {
  pkey_ctx ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
  std::size_t der_size = 0;
  if (!ctx || EVP_PKEY_sign_init(ctx.get()) != 1 || EVP_PKEY_CTX_set_signature_md(ctx.get(), EVP_sha256()) != 1 ||
      EVP_PKEY_sign(ctx.get(), nullptr, &der_size, digest.data(), digest.size()) != 1) {
    crypto_failure("cannot start signing");
  }
  std::vector<std::uint8_t> der(der_size);
  if (EVP_PKEY_sign(ctx.get(), der.data(), &der_size, digest.data(), digest.size()) != 1) {
    crypto_failure("signing failed");
  }
  // Both algorithms produce SEQUENCE { INTEGER r, INTEGER s }; DSA_SIG and ECDSA_SIG decode it.
  const BIGNUM *r = nullptr, *s = nullptr;
  std::array<std::uint8_t, 64> out{};
  const unsigned char* p = der.data();
  bool ok = false;
  if (EVP_PKEY_is_a(key, "DSA")) {
    if (DSA_SIG* sig = d2i_DSA_SIG(nullptr, &p, static_cast<long>(der_size))) {
      DSA_SIG_get0(sig, &r, &s);
      ok = BN_bn2binpad(r, out.data(), 32) == 32 && BN_bn2binpad(s, out.data() + 32, 32) == 32;
      DSA_SIG_free(sig);
    }
  } else if (ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(der_size))) {
    ECDSA_SIG_get0(sig, &r, &s);
    ok = BN_bn2binpad(r, out.data(), 32) == 32 && BN_bn2binpad(s, out.data() + 32, 32) == 32;
    ECDSA_SIG_free(sig);
  }
  if (!ok) crypto_failure("cannot decode the signature");
  return out;
}

}  // namespace vyn::tool::openssl

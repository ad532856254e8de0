#pragma once
// The private key a command signs with, chosen by --keys FOLDER, --set N (default 7) and --key KEY.
// Every signature it makes is checked with the stub's own verifier against the key's public file
// before it is handed out, which also catches a .pem and a .pub that do not belong together.

#include <string>

#include "arguments.h"
#include "key_folder.h"
#include "openssl_keys.h"
#include "payload/signature_writer.h"

namespace vyn::tool {

class signing_key {
 public:
  // Reads the key named by the options; raises tool_error (usage or key errors).
  explicit signing_key(const arguments& args);
  signing_key(const signing_key&) = delete;
  signing_key& operator=(const signing_key&) = delete;

  // Signs digests; raises tool_error(exit_crypto) when libcrypto fails or a signature does not
  // verify. Refers to this object, which must outlive it.
  sfx::signature::digest_signer signer() const;

  // "key set 7, dsa key 0 (set7-dsa-0)"
  std::string describe() const;

  const key_folder& folder() const noexcept { return folder_; }
  // True when the key is a development key of keys/dev, whose private half is public.
  bool development() const;
  // Prints a warning to the standard error when the key is a development key.
  void warn_if_development() const;

  // Signs data as asked; data that cannot be signed so raises tool_error(exit_refused) with what
  // in front of the reason.
  sfx::signature::signed_output sign(sfx::signature::bytes data, const sfx::signature::sign_options& options,
                                     const std::string& what) const;

 private:
  key_folder folder_;
  unsigned set_;
  key_entry entry_;
  public_values values_;
  openssl::pkey key_;
};

}  // namespace vyn::tool

#pragma once
// The tool's exit codes. Scripts depend on them: numbers are never reused or renumbered.

namespace vyn::tool {

enum exit_code : int {
  exit_ok = 0,
  exit_not_signed = 1,    // verify: the file carries no valid signature for the key set
  exit_usage = 2,         // unknown command or option, missing or malformed argument
  exit_io = 3,            // a file or folder cannot be read or written
  exit_key = 4,           // key folder missing, malformed, or without the requested key
  exit_refused = 5,       // the input cannot be processed as asked (already signed, Authenticode, ...)
  exit_crypto = 6,        // libcrypto failed (key generation, signing, self-check)
  exit_internal = 70,     // an unexpected failure inside the tool
};

}  // namespace vyn::tool

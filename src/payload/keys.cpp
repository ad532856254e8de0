#include "payload/keys.h"

#include "foundation/exceptions.h"
#include "foundation/log.h"

namespace vyn::sfx::keys {

const key_set& build_key_set(unsigned id) {
  for (const key_set& set : built_in_key_sets()) {
    if (set.id == id) return set;
  }
  VYN_LOG_ERROR("Unknown DSA key set {}.", id);
  throw exceptions::error(87u, "Unknown DSA key!");
}

}  // namespace vyn::sfx::keys

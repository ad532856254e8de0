#include "foundation/exit_callbacks.h"

#include <algorithm>

#include "foundation/lifetime.h"
#include "foundation/lifetime_system.h"

namespace vyn::lifetime {
namespace {

constinit lifetime_object<callback_store> store_holder(longevity::exit_callbacks);

}  // namespace

callback_cookie_holder::~callback_cookie_holder() {
  if (callback_store* store = store_holder.find()) store->try_remove(cookie_);
}

callback_store::~callback_store() { run_all(); }

std::uint64_t callback_store::add(exit_callback callback, void* user_data, void* module,
                                  std::uintptr_t cookie_argument) {
  if (!callback) throw exceptions::error(87u, "No callback given");  // ERROR_INVALID_PARAMETER
  std::lock_guard guard(lock_);
  entries_.push_back({++last_cookie_, callback, user_data, module, cookie_argument});
  return last_cookie_;
}

void callback_store::remove(std::uint64_t cookie) {
  if (!try_remove(cookie)) throw exceptions::error("Callback not found");
}

bool callback_store::try_remove(std::uint64_t cookie) noexcept {
  std::lock_guard guard(lock_);
  const auto found = std::find_if(entries_.begin(), entries_.end(), [cookie](const entry& e) { return e.cookie == cookie; });
  if (found == entries_.end()) return false;
  entries_.erase(found);
  return true;
}

void callback_store::run_all() noexcept {
  for (;;) {
    entry next{};
    {
      std::lock_guard guard(lock_);
      if (entries_.empty()) return;
      next = entries_.back();
      entries_.pop_back();
    }
    // A module that unloaded without unregistering left nothing to call.
    if (next.module && !detail::code_in_module(reinterpret_cast<const void*>(next.callback), next.module)) continue;
    try {
      next.callback(next.user_data);
    } catch (...) {
    }
  }
}

std::size_t callback_store::size() const {
  std::lock_guard guard(lock_);
  return entries_.size();
}

callback_store* process_callbacks() noexcept {
  if (callback_store* store = store_holder.find()) return store;
  if (store_holder.destroyed()) return nullptr;
  try {
    return &store_holder.get();
  } catch (...) {
    return nullptr;
  }
}

callback_cookie_holder* register_in_process_store(exit_callback callback, void* user_data, void* module,
                                                  std::uintptr_t cookie_argument) noexcept {
  callback_store* store = process_callbacks();
  if (!store) return nullptr;
  try {
    auto holder = std::make_unique<callback_cookie_holder>(store->add(callback, user_data, module, cookie_argument));
    return holder.release();
  } catch (...) {
    return nullptr;
  }
}

}  // namespace vyn::lifetime

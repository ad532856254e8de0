#pragma once
// Callbacks that run when the process ends, kept by the executable for itself and for the modules
// it loads. A module built on this foundation registers through the executable's export
// onexit_register_connector_orvek_2 and keeps the cookie holder it gets back; deleting the holder
// (for example when the module unloads) unregisters the callback:
//
//   std::unique_ptr<vyn::lifetime::callback_cookie_holder> at_end =
//       vyn::lifetime::register_exit_callback(&flush_cache, &cache);
//
// The store is itself a lifetime object (longevity exit_callbacks): when it goes, it runs the
// callbacks still registered, the newest first. A callback of a module that is no longer loaded
// is skipped.

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "foundation/exceptions.h"

namespace vyn::lifetime {

// The plain (cdecl) convention, as every module calls it.
using exit_callback = void (*)(void* user_data);

// "onexit_register_connector_orvek_2 export not found": the main image does not export the
// registration.
class exit_callback_not_found_exception : public exceptions::error {
 public:
  exit_callback_not_found_exception() : error("onexit_register_connector_orvek_2 export not found") {}
};

// One registration. Deleting it unregisters the callback; its deleting destructor is the
// executable's, so a module may delete a holder the executable allocated.
class callback_cookie_holder {
 public:
  explicit callback_cookie_holder(std::uint64_t cookie) noexcept : cookie_(cookie) {}
  virtual ~callback_cookie_holder();
  callback_cookie_holder(const callback_cookie_holder&) = delete;
  callback_cookie_holder& operator=(const callback_cookie_holder&) = delete;

  std::uint64_t cookie() const noexcept { return cookie_; }

 private:
  std::uint64_t cookie_;
};

class callback_store {
 public:
  callback_store() = default;
  // Runs the callbacks still registered.
  ~callback_store();
  callback_store(const callback_store&) = delete;
  callback_store& operator=(const callback_store&) = delete;

  struct entry {
    std::uint64_t cookie;
    exit_callback callback;
    void* user_data;
    void* module;  // the registering module's instance; null when not known
    std::uintptr_t cookie_argument;  // the registrant's own value, kept with the entry
  };

  // Registers the callback and returns its cookie (never 0).
  std::uint64_t add(exit_callback callback, void* user_data, void* module, std::uintptr_t cookie_argument);
  // Unregisters; raises vyn::exceptions::error "Callback not found" for a cookie it does not hold.
  void remove(std::uint64_t cookie);
  // Unregisters when held; true when it was.
  bool try_remove(std::uint64_t cookie) noexcept;
  // Runs every registered callback once, newest first, and forgets them. A callback whose module
  // no longer holds its code is skipped; one that raises is skipped over.
  void run_all() noexcept;
  std::size_t size() const;

 private:
  mutable std::mutex lock_;
  std::vector<entry> entries_;
  std::uint64_t last_cookie_ = 0;
};

// The process's store, created on first use; null once it went (the process is ending).
callback_store* process_callbacks() noexcept;

// Registers in the process's store, whose holder is the caller's, or null when the store no
// longer exists. What the export onexit_register_connector_orvek_2 does.
callback_cookie_holder* register_in_process_store(exit_callback callback, void* user_data, void* module,
                                                  std::uintptr_t cookie_argument) noexcept;

// Registers through the export onexit_register_connector_orvek_2 of the main image, as modules
// loaded into the process do, with the module that holds this code. Raises
// exit_callback_not_found_exception when the main image has no such export; returns null when its
// store no longer exists. Windows only.
std::unique_ptr<callback_cookie_holder> register_exit_callback(exit_callback callback, void* user_data,
                                                               std::uintptr_t cookie_argument = 0);
// The same through the export of another image (its module handle).
std::unique_ptr<callback_cookie_holder> register_exit_callback_through(void* image, exit_callback callback,
                                                                       void* user_data, std::uintptr_t cookie_argument);

}  // namespace vyn::lifetime

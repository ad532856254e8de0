#pragma once
// Process-wide objects with a controlled end. A lifetime object is created on first use and, at
// that moment, registers an at-exit action; when the process ends (or the hosting module unloads)
// the actions run in order of longevity, the largest first. Objects never rely on the order of
// static destructors: one that others use while they go away gets a smaller longevity than they.
//
// A new process-wide object lives in a holder in static memory and is reached through it:
//
//   namespace {
//   vyn::lifetime::lifetime_object<settings_cache> cache_holder(vyn::lifetime::longevity::caches);
//   }
//
//   settings_cache& settings() {
//     return cache_holder.get([] { return settings_cache(read_settings()); });
//   }
//
// get() creates the object exactly once, also when several threads ask at the same time, and
// raises object_already_destroyed once its action has run. A singleton type whose instance is
// reached through a static function derives nothing and uses singleton<>:
//
//   using pool = vyn::lifetime::singleton<random_pool, vyn::lifetime::longevity::random_pool>;
//   pool::instance();   // raises object_already_destroyed "Singleton already destroyed", code
//                       // 0xC0000005, once the pool is gone
//
// Code that must run before the process ends without owning an object registers an action of
// its own (register_at_exit_action with an at_exit_action_node_base it allocated with new).

#include <atomic>
#include <cstdint>
#include <new>
#include <utility>

#include "foundation/exceptions.h"

namespace vyn::lifetime {

// Longevities of the program's objects: the larger goes first. Everything at or above
// module_unload_threshold also goes when the hosting module unloads.
namespace longevity {
inline constexpr std::uint32_t exit_callbacks = 400000;  // runs the callbacks while all else lives
inline constexpr std::uint32_t brand_record = 300000;
inline constexpr std::uint32_t caches = 300000;
inline constexpr std::uint32_t log_module = 201001;
inline constexpr std::uint32_t logger_holder = 200999;
inline constexpr std::uint32_t random_pool = 150000;  // the logger draws names for rotated files
}  // namespace longevity

inline constexpr std::uint32_t module_unload_threshold = 100000;

// "Object creation failed": the object's creation could not be waited for (the process is
// shutting down) or was asked for again by the code creating it.
class object_creation_error : public exceptions::error {
 public:
  object_creation_error() : error("Object creation failed") {}
};

// "Object was already destroyed"; a singleton raises it with the text "Singleton already
// destroyed" and the access-violation status 0xC0000005. It is a fatal error: the program asked
// for an object after the process began to end.
class object_already_destroyed : public exceptions::fatal {
 public:
  object_already_destroyed() : fatal("Object was already destroyed") {}
  object_already_destroyed(std::uint32_t code, std::string message) : fatal(code, std::move(message)) {}
};

inline constexpr std::uint32_t access_violation = 0xC0000005u;

// One at-exit action: a node of a lock-free list. The list owns registered nodes and deletes
// each after its action ran.
class at_exit_action_node_base {
 public:
  explicit at_exit_action_node_base(std::uint32_t longevity) noexcept : longevity_(longevity) {}
  virtual ~at_exit_action_node_base() = default;
  at_exit_action_node_base(const at_exit_action_node_base&) = delete;
  at_exit_action_node_base& operator=(const at_exit_action_node_base&) = delete;

  std::uint32_t longevity() const noexcept { return longevity_; }
  // An action that raises ends the process with the structured exception 0x60AA0004 ("Atexit
  // action throws exception!").
  virtual void run() = 0;

 private:
  friend struct action_list;
  const std::uint32_t longevity_;
  at_exit_action_node_base* next_ = nullptr;
};

// Takes ownership of the node (allocated with new) and pushes it onto the list.
void register_at_exit_action(at_exit_action_node_base* node) noexcept;

// Runs, largest longevity first, every registered action whose longevity is at least threshold,
// including those that actions register meanwhile. It first wakes every thread waiting for an
// object's creation; with threshold 0 (the process end) it also marks the process as shutting
// down, after which such waits fail with object_creation_error instead of waiting for a creator
// that may never finish. A hosting module's unload runs it with module_unload_threshold.
void run_at_exit_actions(std::uint32_t threshold);

// True once the process-end run of the actions has started.
bool shutting_down() noexcept;

// The at-exit structured exception and its argument text.
inline constexpr std::uint32_t atexit_action_failed = 0x60AA0004u;
inline constexpr const char* atexit_action_failed_text = "Atexit action throws exception!";

namespace detail {

enum class object_state : std::uint32_t { not_created, creating, created, destroyed };

// The part of a holder that does not depend on the object's type. Constant-initialised, so a
// holder is usable during static initialisation in any order.
struct holder_core {
  constexpr holder_core(std::uint32_t longevity, void (*destroy)(holder_core&) noexcept) noexcept
      : longevity(longevity), destroy(destroy) {}

  std::atomic<object_state> state{object_state::not_created};
  std::uint32_t creator = 0;  // thread creating the object
  const std::uint32_t longevity;
  void (*const destroy)(holder_core&) noexcept;
};

// Creates the object of the holder once: make(context) constructs it in place, outside any
// lock, so that making it may use other lifetime objects. Raises object_already_destroyed,
// object_creation_error, "Cannot create event" (the system error code), the fatal
// "lifetime_object must be allocated on static memory ..." for a holder elsewhere, and whatever
// make raises (the holder then stays not created).
void create_once(holder_core& core, void (*make)(void* context), void* context);

// Marks the holder destroyed and runs its destruction; the at-exit action of every holder.
void destroy_now(holder_core& core) noexcept;

}  // namespace detail

// A holder, in static memory, for one object of type T created on first use.
template <class T>
class lifetime_object {
 public:
  explicit constexpr lifetime_object(std::uint32_t longevity) noexcept : core_(longevity, &destroy) {}
  lifetime_object(const lifetime_object&) = delete;
  lifetime_object& operator=(const lifetime_object&) = delete;

  // The object, made by make() (returning a T) on first use. See create_once for what raises.
  template <class Make>
  T& get(Make&& make) {
    if (core_.state.load(std::memory_order_acquire) != detail::object_state::created) {
      auto construct = [this, &make] { ::new (static_cast<void*>(storage_)) T(make()); };
      using construct_type = decltype(construct);
      detail::create_once(
          core_, [](void* context) { (*static_cast<construct_type*>(context))(); }, &construct);
    }
    return *object();
  }

  // The object, default-constructed on first use.
  T& get() {
    return get([] { return T(); });
  }

  // The object when it exists now; null before its creation and after its destruction.
  T* find() noexcept {
    return core_.state.load(std::memory_order_acquire) == detail::object_state::created ? object() : nullptr;
  }

  bool destroyed() const noexcept {
    return core_.state.load(std::memory_order_acquire) == detail::object_state::destroyed;
  }

 private:
  T* object() noexcept { return std::launder(reinterpret_cast<T*>(storage_)); }

  // core_ is the first member of this standard-layout class: its address is the holder's.
  static void destroy(detail::holder_core& core) noexcept {
    reinterpret_cast<lifetime_object*>(&core)->object()->~T();
  }

  detail::holder_core core_;
  alignas(T) unsigned char storage_[sizeof(T)]{};
};

// The process's one instance of T, default-constructed on first use and destroyed at its
// longevity. instance() raises object_already_destroyed ("Singleton already destroyed", code
// 0xC0000005) once it is gone.
template <class T, std::uint32_t Longevity>
class singleton {
 public:
  static T& instance() {
    try {
      return holder_.get();
    } catch (const object_already_destroyed&) {
      if (!holder_.destroyed()) throw;  // raised while making T, about another object
      throw object_already_destroyed(access_violation, "Singleton already destroyed");
    }
  }
  // Null before creation and after destruction.
  static T* find() noexcept { return holder_.find(); }

 private:
  static inline constinit lifetime_object<T> holder_{Longevity};
};

}  // namespace vyn::lifetime

#include "foundation/lifetime.h"

#include <mutex>

#include "foundation/lifetime_system.h"

namespace vyn::lifetime {

// The list of at-exit actions. Everything here is constant-initialised and needs no destruction,
// so it works before, during and after the static objects of every translation unit.
struct action_list {
  static inline constinit std::atomic<at_exit_action_node_base*> head{nullptr};
  static inline constinit std::atomic<bool> exit_hook_registered{false};
  static inline constinit std::atomic<bool> shutting_down{false};
  // One runner at a time: pushing stays lock-free, unlinking is done by the runner alone.
  static inline constinit detail::static_lock runner;

  static at_exit_action_node_base*& next(at_exit_action_node_base* node) noexcept { return node->next_; }
  static void push(at_exit_action_node_base* node) noexcept;
  static at_exit_action_node_base* take_largest(std::uint32_t threshold) noexcept;
};

namespace detail {
namespace {

// Creation is serialised by this lock; threads that find an object being created wait for the
// event, which every finished creation (and the start of the shutdown) signals.
constinit static_lock creation_lock;
constinit void* creation_event = nullptr;

class holder_action final : public at_exit_action_node_base {
 public:
  explicit holder_action(holder_core& core) noexcept : at_exit_action_node_base(core.longevity), core_(core) {}
  void run() override { destroy_now(core_); }

 private:
  holder_core& core_;
};

void* event_locked() {
  if (!creation_event) creation_event = create_event();
  return creation_event;
}

// Claims the creation for this thread (true), or returns false when the object exists. Called
// and returning with the lock held.
bool claim(holder_core& core, std::unique_lock<static_lock>& guard) {
  const std::uint32_t me = current_thread();
  for (;;) {
    switch (core.state.load(std::memory_order_acquire)) {
      case object_state::created:
        return false;
      case object_state::destroyed:
        throw object_already_destroyed();
      case object_state::not_created: {
        void* event = event_locked();
        core.creator = me;
        core.state.store(object_state::creating, std::memory_order_release);
        reset_event(event);
        return true;
      }
      case object_state::creating: {
        // The object's own construction asks for it again, or its creator may never finish.
        if (core.creator == me || shutting_down()) throw object_creation_error();
        void* event = event_locked();
        guard.unlock();
        wait_event(event);
        guard.lock();
        break;
      }
    }
  }
}

void finish(holder_core& core, object_state state) noexcept {
  std::lock_guard guard(creation_lock);
  core.state.store(state, std::memory_order_release);
  if (creation_event) set_event(creation_event);
}

}  // namespace

void create_once(holder_core& core, void (*make)(void* context), void* context) {
  if (!in_static_memory(&core)) {
    throw exceptions::fatal(
        "lifetime_object must be allocated on static memory (static or global variable or member of such a "
        "variable).");
  }
  {
    std::unique_lock guard(creation_lock);
    if (!claim(core, guard)) return;
  }
  holder_action* action = nullptr;
  try {
    action = new holder_action(core);
    make(context);
  } catch (...) {
    delete action;
    finish(core, object_state::not_created);
    throw;
  }
  register_at_exit_action(action);
  finish(core, object_state::created);
}

void destroy_now(holder_core& core) noexcept {
  object_state expected = object_state::created;
  {
    std::lock_guard guard(creation_lock);
    if (!core.state.compare_exchange_strong(expected, object_state::destroyed, std::memory_order_acq_rel)) return;
  }
  core.destroy(core);
}

}  // namespace detail

void action_list::push(at_exit_action_node_base* node) noexcept {
  at_exit_action_node_base* first = head.load(std::memory_order_relaxed);
  do {
    node->next_ = first;
  } while (!head.compare_exchange_weak(first, node, std::memory_order_release, std::memory_order_relaxed));
}

// Unlinks and returns the node with the largest longevity (the most recently registered of
// equals), or null when none reaches the threshold. Other threads may push meanwhile: they only
// ever change the head.
at_exit_action_node_base* action_list::take_largest(std::uint32_t threshold) noexcept {
  for (;;) {
    at_exit_action_node_base* first = head.load(std::memory_order_acquire);
    at_exit_action_node_base* best = nullptr;
    at_exit_action_node_base* before_best = nullptr;
    for (at_exit_action_node_base *node = first, *previous = nullptr; node; previous = node, node = node->next_) {
      if (!best || node->longevity() > best->longevity()) {
        best = node;
        before_best = previous;
      }
    }
    if (!best || best->longevity() < threshold) return nullptr;
    if (before_best) {
      before_best->next_ = best->next_;
      return best;
    }
    at_exit_action_node_base* expected = best;
    if (head.compare_exchange_strong(expected, best->next_, std::memory_order_acq_rel)) return best;
    // A push came first: best is no longer the head; look again.
  }
}

void register_at_exit_action(at_exit_action_node_base* node) noexcept {
  if (!node) return;
  if (!action_list::exit_hook_registered.exchange(true)) {
    detail::call_at_process_exit([] { run_at_exit_actions(0); });
  }
  action_list::push(node);
}

void run_at_exit_actions(std::uint32_t threshold) {
  {
    std::lock_guard guard(detail::creation_lock);
    // A module's unload leaves the process running: only the process end stops the waiting.
    if (threshold == 0) action_list::shutting_down.store(true, std::memory_order_release);
    if (detail::creation_event) detail::set_event(detail::creation_event);
  }
  std::lock_guard runner(action_list::runner);
  while (at_exit_action_node_base* node = action_list::take_largest(threshold)) {
    try {
      node->run();
    } catch (...) {
      detail::raise_action_failure();
    }
    delete node;
  }
}

bool shutting_down() noexcept { return action_list::shutting_down.load(std::memory_order_acquire); }

}  // namespace vyn::lifetime

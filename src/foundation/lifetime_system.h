#pragma once
// What the lifetime objects need from the operating system: one process-wide manual-reset event,
// the thread id, whether an address lies in static memory, and how an at-exit action that raises
// ends the process.

#include <atomic>
#include <cstdint>

namespace vyn::lifetime::detail {

// A lock that is constant-initialised and needs no destruction, usable at any time of the
// process's life (a slim reader/writer lock on Windows).
class static_lock {
 public:
  constexpr static_lock() noexcept = default;
  static_lock(const static_lock&) = delete;
  static_lock& operator=(const static_lock&) = delete;
  void lock() noexcept;
  void unlock() noexcept;

 private:
#ifdef _WIN32
  void* state_ = nullptr;  // an SRWLOCK, which starts as all zeros
#else
  std::atomic<bool> taken_{false};
#endif
};

// Creates the process's manual-reset event, not signalled. Raises vyn::exceptions::error with the
// system error code and "Cannot create event".
void* create_event();
void set_event(void* event) noexcept;
void reset_event(void* event) noexcept;
// Waits until the event is signalled.
void wait_event(void* event) noexcept;

std::uint32_t current_thread() noexcept;

// True when the address lies in the static memory of a loaded image (a global or static
// variable, or a member of one); false for the stack and the heap.
bool in_static_memory(const void* address) noexcept;

// True when the code address lies in the image of the loaded module (its instance handle).
bool code_in_module(const void* code, void* module) noexcept;

// Ends the process because an at-exit action raised: on Windows the non-continuable structured
// exception 0x60AA0004 whose one argument is the text "Atexit action throws exception!".
[[noreturn]] void raise_action_failure() noexcept;

// Runs the function when the process ends normally (once registered, also from a module's end).
void call_at_process_exit(void (*function)()) noexcept;

}  // namespace vyn::lifetime::detail

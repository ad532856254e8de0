// The host build (maker tool, host tests): a condition variable stands in for the event, and an
// action that raises aborts the process.
#include <dlfcn.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <condition_variable>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "foundation/lifetime.h"
#include "foundation/lifetime_system.h"

namespace vyn::lifetime::detail {
namespace {

struct manual_event {
  std::mutex lock;
  std::condition_variable changed;
  bool signalled = false;
};

}  // namespace

// The locks are held for a few instructions (and by the one thread that runs the actions), so
// waiting by yielding is enough.
void static_lock::lock() noexcept {
  while (taken_.exchange(true, std::memory_order_acquire)) std::this_thread::yield();
}

void static_lock::unlock() noexcept { taken_.store(false, std::memory_order_release); }

void* create_event() { return new manual_event; }

void set_event(void* event) noexcept {
  auto& e = *static_cast<manual_event*>(event);
  {
    std::lock_guard guard(e.lock);
    e.signalled = true;
  }
  e.changed.notify_all();
}

void reset_event(void* event) noexcept {
  auto& e = *static_cast<manual_event*>(event);
  std::lock_guard guard(e.lock);
  e.signalled = false;
}

void wait_event(void* event) noexcept {
  auto& e = *static_cast<manual_event*>(event);
  std::unique_lock guard(e.lock);
  e.changed.wait(guard, [&e] { return e.signalled; });
}

std::uint32_t current_thread() noexcept { return static_cast<std::uint32_t>(::syscall(SYS_gettid)); }

// dladdr finds the loaded object whose mapping holds the address; the stack and the heap belong
// to none.
bool in_static_memory(const void* address) noexcept {
  Dl_info info{};
  return ::dladdr(address, &info) != 0 && info.dli_fbase != nullptr;
}

bool code_in_module(const void* code, void* module) noexcept {
  Dl_info info{};
  return ::dladdr(code, &info) != 0 && info.dli_fbase == module;
}

void raise_action_failure() noexcept {
  std::fprintf(stderr, "%s\n", atexit_action_failed_text);
  std::abort();
}

void call_at_process_exit(void (*function)()) noexcept { std::atexit(function); }

}  // namespace vyn::lifetime::detail

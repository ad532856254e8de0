#include <windows.h>

#include <cstdlib>

#include "foundation/exceptions.h"
#include "foundation/lifetime.h"
#include "foundation/lifetime_system.h"

namespace vyn::lifetime::detail {

static_assert(sizeof(SRWLOCK) == sizeof(void*));

// SRWLOCK_INIT is all zeros, as the lock starts.
void static_lock::lock() noexcept { ::AcquireSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&state_)); }
void static_lock::unlock() noexcept { ::ReleaseSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&state_)); }

void* create_event() {
  HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!event) throw exceptions::error(::GetLastError(), "Cannot create event");
  return event;
}

void set_event(void* event) noexcept { ::SetEvent(event); }
void reset_event(void* event) noexcept { ::ResetEvent(event); }
void wait_event(void* event) noexcept { ::WaitForSingleObject(event, INFINITE); }

std::uint32_t current_thread() noexcept { return ::GetCurrentThreadId(); }

// An address inside a loaded image is in its data or code; the stack and heap lie outside every
// image.
bool in_static_memory(const void* address) noexcept {
  HMODULE module = nullptr;
  return ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<LPCWSTR>(address), &module) != FALSE;
}

bool code_in_module(const void* code, void* module) noexcept {
  HMODULE holder = nullptr;
  return ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<LPCWSTR>(code), &holder) &&
         holder == static_cast<HMODULE>(module);
}

void raise_action_failure() noexcept {
  const ULONG_PTR argument = reinterpret_cast<ULONG_PTR>(atexit_action_failed_text);
  ::RaiseException(atexit_action_failed, EXCEPTION_NONCONTINUABLE, 1, &argument);
  std::abort();  // a handler that continues a non-continuable exception ends here
}

void call_at_process_exit(void (*function)()) noexcept { std::atexit(function); }

}  // namespace vyn::lifetime::detail

#include <windows.h>

#include "foundation/exit_callbacks.h"

namespace vyn::lifetime {
namespace {

using registrar_fn = callback_cookie_holder* (*)(exit_callback, void*, HINSTANCE, std::uintptr_t);

// The module that holds this code: the executable, or a library built on the same foundation.
HMODULE own_module() {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&own_module), &module);
  return module;
}

}  // namespace

std::unique_ptr<callback_cookie_holder> register_exit_callback(exit_callback callback, void* user_data,
                                                               std::uintptr_t cookie_argument) {
  return register_exit_callback_through(::GetModuleHandleW(nullptr), callback, user_data, cookie_argument);
}

std::unique_ptr<callback_cookie_holder> register_exit_callback_through(void* image, exit_callback callback,
                                                                       void* user_data, std::uintptr_t cookie_argument) {
  const auto registrar = reinterpret_cast<registrar_fn>(reinterpret_cast<void*>(
      ::GetProcAddress(static_cast<HMODULE>(image), "onexit_register_connector_orvek_2")));
  if (!registrar) throw exit_callback_not_found_exception();
  return std::unique_ptr<callback_cookie_holder>(registrar(callback, user_data, own_module(), cookie_argument));
}

}  // namespace vyn::lifetime

// The functions the executable exports by name, in the plain calling convention, for the modules
// it loads that are built on the same foundation: they share the executable's heap, its store of
// exit callbacks and its at-exit sequence. Linked into the executable itself (an export in a
// static library would be dropped by the linker).
#include <windows.h>

#include <cstdint>

#include "foundation/exit_callbacks.h"
#include "foundation/lifetime.h"

extern "C" {

// Memory from the heap, as the system's heap allocation returns it.
__declspec(dllexport) void* __cdecl vyn_process_storage_allocate_connector(HANDLE heap, DWORD flags, SIZE_T bytes) {
  return ::HeapAlloc(heap, flags, bytes);
}

// The system's heap free result.
__declspec(dllexport) BOOL __cdecl vyn_process_storage_deallocate_connector(HANDLE heap, DWORD flags, LPVOID memory) {
  return ::HeapFree(heap, flags, memory);
}

// Registers a callback that runs when the process ends; the caller owns the returned holder and
// unregisters by deleting it. Null when the store no longer exists (the process is ending).
__declspec(dllexport) vyn::lifetime::callback_cookie_holder* __cdecl onexit_register_connector_orvek_2(
    vyn::lifetime::exit_callback callback, void* user_data, HINSTANCE module, std::uintptr_t cookie_argument) {
  return vyn::lifetime::register_in_process_store(callback, user_data, module, cookie_argument);
}

// Runs the at-exit actions of the objects that live no longer than a loaded module.
__declspec(dllexport) void __cdecl on_orvek_dll_unload() {
  try {
    vyn::lifetime::run_at_exit_actions(vyn::lifetime::module_unload_threshold);
  } catch (...) {
  }
}

}  // extern "C"

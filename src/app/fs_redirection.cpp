#include "app/fs_redirection.h"

#include <windows.h>

namespace vyn::sfx {
namespace {

using disable_fn = BOOL WINAPI(PVOID*);
using revert_fn = BOOL WINAPI(PVOID);

template <class Function>
Function* kernel_routine(const char* name) {
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  return kernel ? reinterpret_cast<Function*>(reinterpret_cast<void*>(::GetProcAddress(kernel, name))) : nullptr;
}

}  // namespace

fs_redirection_auto::fs_redirection_auto() noexcept {
  if (auto* disable = kernel_routine<disable_fn>("Wow64DisableWow64FsRedirection")) {
    disabled_ = disable(&previous_) != FALSE;
  }
}

fs_redirection_auto::~fs_redirection_auto() {
  if (!disabled_) return;
  if (auto* revert = kernel_routine<revert_fn>("Wow64RevertWow64FsRedirection")) revert(previous_);
}

}  // namespace vyn::sfx

// The stub's Windows entry point: it restricts DLL loading to System32 before anything else can
// load a library, then hands over to the entry sequence.
#include <windows.h>

#include "app/entry_point.h"

namespace {

// SetDefaultDllDirectories exists on Windows 7 only with its loader update, so it is looked up.
void restrict_dll_search() {
  using set_default_dirs_fn = BOOL(WINAPI*)(DWORD);
  if (HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll")) {
    if (auto set_default_dirs = reinterpret_cast<set_default_dirs_fn>(
            reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")))) {
      set_default_dirs(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
  }
  ::SetDllDirectoryW(L"");
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  restrict_dll_search();
  return static_cast<int>(vyn::sfx::entry_point(instance));
}

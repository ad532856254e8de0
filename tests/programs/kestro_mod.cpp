// Stand-in of the channel plug-in: answers the installer's channel question as the test asks.
// See README.md for the call and the variables that steer it.
#include <windows.h>

#include <string>

#include "foundation/exit_callbacks.h"
#include "stand_in.h"

#ifdef VYN_TEST_MOD_NEEDS_HELPER
extern "C" __declspec(dllimport) const wchar_t* vyn_test_mod_helper_channel();
#endif

namespace {

using namespace vyn::stand_in;

void record_call(const wchar_t* product, const wchar_t* channel, DWORD length, DWORD flags) {
  const auto record = environment(L"VYN_TEST_RECORD_DIR");
  if (!record || record->empty() || !make_folders(*record)) return;
  const std::string line = utf8(product) + "|" + utf8(channel) + "|" + std::to_string(length) + "|" +
                           std::to_string(flags) + "\n";
  write_text(*record + L"\\kestro_mod-calls.txt", line, true);
}

// The exit callback registered in the host, and whether the module stays loaded for it.
vyn::lifetime::callback_cookie_holder* exit_registration = nullptr;
HMODULE this_module = nullptr;

void at_host_exit(void* record_file) {
  write_text(*static_cast<const std::wstring*>(record_file), "exit callback ran\n", true);
}

using registrar_fn = vyn::lifetime::callback_cookie_holder* (*)(vyn::lifetime::exit_callback, void*, HINSTANCE,
                                                                 std::uintptr_t);

// VYN_TEST_MOD_EXIT_CALLBACK "pin" keeps the module loaded so that its callback runs when the
// host ends; "release" unregisters it when the module unloads. What happened is appended to
// kestro_mod-exit.txt in the record folder.
void register_exit_callback_once() {
  const auto mode = environment(L"VYN_TEST_MOD_EXIT_CALLBACK");
  const auto record = environment(L"VYN_TEST_RECORD_DIR");
  if (!mode || !record || exit_registration || !make_folders(*record)) return;
  const auto* file = new std::wstring(*record + L"\\kestro_mod-exit.txt");  // kept until the end
  const auto registrar = reinterpret_cast<registrar_fn>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(nullptr), "onexit_register_connector_orvek_2")));
  if (!registrar) {
    write_text(*file, "no export\n", true);
    return;
  }
  exit_registration = registrar(&at_host_exit, const_cast<std::wstring*>(file), this_module, 0);
  write_text(*file, exit_registration ? "registered\n" : "no store\n", true);
  if (exit_registration && *mode == L"pin") {
    HMODULE pinned = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                         reinterpret_cast<LPCWSTR>(&at_host_exit), &pinned);
  }
}

// The channel to answer with when the test names none: the one given, or, in the build that
// needs a DLL beside it, the helper DLL's.
std::wstring default_answer(const wchar_t* channel) {
#ifdef VYN_TEST_MOD_NEEDS_HELPER
  (void)channel;
  return vyn_test_mod_helper_channel();
#else
  return channel;
#endif
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) this_module = instance;
  // Unloaded before the host ends, the callback would point into nothing: unregister it. When
  // the process itself ends (reserved set) the host's store is already gone.
  if (reason == DLL_PROCESS_DETACH && !reserved && exit_registration) delete exit_registration;
  return TRUE;
}

// Writes the channel to use into buffer. length holds the buffer's size in characters on entry
// and, on success, the characters written (with the terminating NUL unless
// VYN_TEST_MOD_COUNT_NUL is "0"). Returns 0, 234 with the size needed in length when the buffer
// is too small, 87 for missing arguments, or the failure VYN_TEST_MOD_RESULT names.
extern "C" __declspec(dllexport) DWORD WINAPI CheckChannelCompatibility(const wchar_t* product, const wchar_t* channel,
                                                                       wchar_t* buffer, DWORD* length, DWORD flags) {
  if (!product || !channel || !length || (!buffer && *length != 0)) return ERROR_INVALID_PARAMETER;
  record_call(product, channel, *length, flags);
  register_exit_callback_once();
  if (const auto forced = environment(L"VYN_TEST_MOD_RESULT")) {
    const auto result = parse_number(*forced);
    if (!result) return ERROR_INVALID_DATA;
    if (*result != 0) return *result;
  }
  const std::wstring answer = environment(L"VYN_TEST_MOD_CHANNEL").value_or(default_answer(channel));
  const DWORD needed = static_cast<DWORD>(answer.size() + 1);
  if (*length < needed) {
    *length = needed;
    return ERROR_MORE_DATA;
  }
  answer.copy(buffer, answer.size());
  buffer[answer.size()] = L'\0';
  *length = environment(L"VYN_TEST_MOD_COUNT_NUL").value_or(L"1") == L"0" ? needed - 1 : needed;
  return ERROR_SUCCESS;
}

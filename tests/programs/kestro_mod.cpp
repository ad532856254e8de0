// Stand-in of the channel plug-in: answers the installer's channel question as the test asks.
// See README.md for the call and the variables that steer it.
#include <windows.h>

#include <string>

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

// Writes the channel to use into buffer. length holds the buffer's size in characters on entry
// and, on success, the characters written (with the terminating NUL unless
// VYN_TEST_MOD_COUNT_NUL is "0"). Returns 0, 234 with the size needed in length when the buffer
// is too small, 87 for missing arguments, or the failure VYN_TEST_MOD_RESULT names.
extern "C" __declspec(dllexport) DWORD WINAPI CheckChannelCompatibility(const wchar_t* product, const wchar_t* channel,
                                                                       wchar_t* buffer, DWORD* length, DWORD flags) {
  if (!product || !channel || !length || (!buffer && *length != 0)) return ERROR_INVALID_PARAMETER;
  record_call(product, channel, *length, flags);
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

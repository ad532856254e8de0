// Test helper: reports the machine's identity as an analytics record would carry it, through the
// real locations of the running system.
//
//   identity_probe.exe <output path> [halvard]
//
// Writes the log at debug level (which names the disk queries that failed) followed by the lines
// "hwid=", "fingerprint=", "endpoint_id=", "items1=" and "items2=" (the item names of both
// modes). With "halvard" the provider writes LC.INI as a Halvard build does. Exits with 0, 2 for
// bad arguments, 3 when the output cannot be opened, 4 when the identity cannot be computed.
#include <cstdio>
#include <exception>
#include <string>

#include "foundation/exceptions.h"
#include "foundation/logger.h"
#include "foundation/strings.h"
#include "net/device_identifier.h"

namespace {

std::string names(const vyn::mi::source_items& items) {
  std::string text;
  for (const auto& item : items) text += (text.empty() ? "" : ",") + item.first;
  return text;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2 && argc != 3) return 2;
  const bool halvard = argc == 3 && std::wstring(argv[2]) == L"halvard";
  std::FILE* out = _wfopen(argv[1], L"wb");
  if (!out) return 3;
  vyn::log::acquire_logger()->set_stream(out, 0);
  int status = 0;
  try {
    vyn::mi::device_identifier identity(halvard ? vyn::root::brand_kind::halvard : vyn::root::brand_kind::orvek);
    identity.start();
    vyn::mi::midex machine;
    vyn::mi::source_items first, second;
    machine.get(1, 32, &first);
    machine.get(2, 16, &second);
    const std::string hwid = vyn::utils::to_log(vyn::mi::hardware_id_text());
    const std::string fingerprint = vyn::utils::to_log(vyn::mi::fingerprint_text(identity));
    const std::string endpoint = vyn::utils::to_log(vyn::mi::endpoint_id_text(identity));
    vyn::log::acquire_logger()->set_stream(nullptr, 9);
    std::fprintf(out, "hwid=%s\nfingerprint=%s\nendpoint_id=%s\nitems1=%s\nitems2=%s\n", hwid.c_str(),
                 fingerprint.c_str(), endpoint.c_str(), names(first).c_str(), names(second).c_str());
  } catch (const std::exception& e) {
    vyn::log::acquire_logger()->set_stream(nullptr, 9);
    std::fprintf(out, "failure=%s\n", e.what());
    status = 4;
  }
  std::fclose(out);
  return status;
}

// Test helper: appends numbered lines to a log file through the process logger, as the installer
// and the setup it starts both do.
//
//   log_test_writer.exe <log path> <tag> <count> [<maximum size>]
//
// Logs "<tag> <n>" for n from 0 to count - 1. Exits with 0, or 2 for bad arguments, 3 when the log
// file could not be opened, 4 when a write failed.
#include <cwchar>
#include <exception>

#include "foundation/logger.h"
#include "foundation/strings.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 4 && argc != 5) return 2;
  const std::string tag = vyn::utils::to_log(argv[2]);
  const unsigned long count = std::wcstoul(argv[3], nullptr, 10);
  const std::uint64_t max_size =
      argc == 5 ? std::wcstoull(argv[4], nullptr, 10) : vyn::log::default_max_file_size;
  const vyn::log::logger_ref logger = vyn::log::open_log(argv[1], max_size);
  if (!logger || logger->file_path().empty()) return 3;
  logger->set_debugger_threshold(vyn::log::threshold_off);
  try {
    for (unsigned long i = 0; i < count; ++i) VYN_LOG_INFO("{} {}", tag, i);
  } catch (const std::exception&) {
    return 4;
  }
  return 0;
}

// Unpacks a ".lzma" stream into a file the way the payload unpacker does (stream mapped from its
// file, packer's memory-to-handle path) and prints the process's peak memory figures.
//   bench_lzma_unpack_memory <stream> <output file>

#include <windows.h>
#include <psapi.h>

#include <chrono>
#include <cstdio>

#include "foundation/file_mapping.h"
#include "foundation/handle.h"
#include "payload/lzma_packer.h"

namespace {

double mib(SIZE_T bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

void print_memory(const char* when) {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof(counters);
  if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters))) return;
  std::printf("%-8s working set %.1f MiB (peak %.1f MiB), private %.1f MiB (peak %.1f MiB)\n", when,
              mib(counters.WorkingSetSize), mib(counters.PeakWorkingSetSize), mib(counters.PagefileUsage),
              mib(counters.PeakPagefileUsage));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: bench_lzma_unpack_memory <stream> <output file>\n");
    return 2;
  }
  try {
    print_memory("start");
    vyn::win::unique_handle in(::CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    vyn::win::unique_handle out(::CreateFileW(argv[2], GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!in || !out) {
      std::fprintf(stderr, "cannot open the files (%lu)\n", ::GetLastError());
      return 1;
    }
    const vyn::files::file_mapping mapping(in.get());
    const auto start = std::chrono::steady_clock::now();
    vyn::packers::lzma_packer packer;
    packer.decompress(mapping.view().bytes(), out.get());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    LARGE_INTEGER size{};
    ::GetFileSizeEx(out.get(), &size);
    std::printf("unpacked %lld bytes from %llu in %.2f s; dictionary buffer %.1f MiB\n",
                static_cast<long long>(size.QuadPart), static_cast<unsigned long long>(mapping.size()), seconds,
                mib(packer.decoder().dictionary_buffer_size()));
    print_memory("end");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "failed: %s\n", e.what());
    return 1;
  }
  return 0;
}

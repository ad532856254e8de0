// One download over our transport into a file: bench_download <url> <file>. Prints the bytes, the
// wall-clock seconds of the transfer and the processor seconds (user, kernel) of this process.

#include <windows.h>

#include <cstdio>
#include <string>

#include "foundation/handle.h"
#include "net/sfx_win_http.h"

namespace {

double seconds_of(const FILETIME& t) {
  return static_cast<double>(ULARGE_INTEGER{{t.dwLowDateTime, t.dwHighDateTime}}.QuadPart) / 1e7;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: bench_download <url> <file>\n");
    return 2;
  }
  vyn::win::unique_handle file(
      ::CreateFileW(argv[2], GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr));
  if (!file) {
    std::fprintf(stderr, "cannot create the file (%lu)\n", ::GetLastError());
    return 1;
  }
  try {
    vyn::sfx::sfx_win_http http(std::nullopt);
    LARGE_INTEGER frequency, start, end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    const vyn::http::http_result result =
        http.get_to_file(vyn::http::crack_url(argv[1]), file.get(), true, 15000, 15000, 15000, 30000);
    ::QueryPerformanceCounter(&end);
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    std::printf("%u %.6f %.6f %.6f\n", result.downloaded,
                static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart),
                seconds_of(user), seconds_of(kernel));
    return result.status == 200 ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "download failed: %s\n", e.what());
    return 1;
  }
}

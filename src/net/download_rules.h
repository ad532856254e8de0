#pragma once
// The rules of repository downloads that need no network: where an object lies in the
// repository, how a URL text is completed, and the download speeds kept over a run.

#include <cstdint>
#include <string>
#include <vector>

namespace vyn::http {

// The repository path of an object by its hash text h, in the letter case given:
// h[0..3] "/" h[4..7] "/" h[8..11] "/" h ".lzma". Raises vyn::exceptions::error code 13 when the
// text is shorter than 12 characters.
std::wstring repository_path(const std::wstring& hash);

// The URL text as it is requested: unchanged when it contains "://", otherwise behind "https://".
std::wstring download_url(const std::wstring& text);

// The speeds of the successful transfers of one downloader, in MiB/s.
class speed_statistics {
 public:
  // The speed of a transfer of bytes in milliseconds; it counts towards the average only when
  // both are known (not 0). Returns the speed, 0 when it is not known.
  double record(std::uint64_t bytes, std::uint64_t milliseconds);
  // The mean of the recorded speeds; 0 before the first.
  double average() const noexcept { return average_; }

 private:
  std::vector<double> speeds_;
  double average_ = 0;
};

}  // namespace vyn::http

#pragma once
// A packer turns packed streams back into bytes (decompress) and produces them (compress), from
// and to memory, open files and paths. Callers create a concrete packer as a local object, use it
// for one call and destroy it.

#include <windows.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vyn::packers {

class basic_packer {
 public:
  virtual ~basic_packer() = default;

  virtual void decompress(const std::wstring& source, const std::wstring& destination) = 0;
  virtual void decompress(HANDLE source, HANDLE destination) = 0;
  virtual void decompress(std::span<const std::uint8_t> source, const std::wstring& destination) = 0;
  virtual void decompress(std::span<const std::uint8_t> source, HANDLE destination) = 0;
  virtual std::vector<std::uint8_t> decompress(std::span<const std::uint8_t> source) = 0;
  // Decompression into a caller's buffer, for packers whose format stores the unpacked size.
  virtual std::size_t decompress(std::span<const std::uint8_t> source,
                                 std::span<std::uint8_t> destination) = 0;

  virtual void compress(const std::wstring& source, const std::wstring& destination) = 0;
  virtual void compress(HANDLE source, HANDLE destination) = 0;
  virtual void compress(std::span<const std::uint8_t> source, const std::wstring& destination) = 0;
  virtual void compress(std::span<const std::uint8_t> source, HANDLE destination) = 0;
  virtual std::vector<std::uint8_t> compress(std::span<const std::uint8_t> source) = 0;

  // String literals would otherwise convert to HANDLE rather than to paths.
  void decompress(const wchar_t*, const wchar_t*) = delete;
  void decompress(std::span<const std::uint8_t>, const wchar_t*) = delete;
  void compress(const wchar_t*, const wchar_t*) = delete;
  void compress(std::span<const std::uint8_t>, const wchar_t*) = delete;
};

}  // namespace vyn::packers

#pragma once
// The packer of ".lzma" streams: every compressed stream the stub handles (payload records,
// downloads, the localisation resource) goes through it.

#include "payload/basic_packer.h"
#include "payload/lzma_codec.h"

namespace vyn::packers {

class lzma_packer final : public basic_packer {
 public:
  static constexpr int default_level = 9;
  static constexpr std::uint32_t default_dictionary_size = 0x800000;  // 8 MiB

  // level and dictionary_size apply to compression only; a decompression follows the stream.
  explicit lzma_packer(int level = default_level,
                       std::uint32_t dictionary_size = default_dictionary_size);

  using basic_packer::compress;
  using basic_packer::decompress;

  // The destination is deleted when anything fails.
  void decompress(const std::wstring& source, const std::wstring& destination) override;
  // Reads the source file through bounded views of its mapping, so that files of any size up to
  // 4 GiB unpack in a 32-bit process; an empty file fails with 87.
  void decompress(HANDLE source, HANDLE destination) override;
  void decompress(std::span<const std::uint8_t> source, const std::wstring& destination) override;
  // Writes pass by pass at the file pointer; a file of known size is pre-sized once. On failure the
  // file holds what was written so far: the caller that created it deletes it.
  void decompress(std::span<const std::uint8_t> source, HANDLE destination) override;
  std::vector<std::uint8_t> decompress(std::span<const std::uint8_t> source) override;
  // Not supported by this packer: always raises code 120.
  std::size_t decompress(std::span<const std::uint8_t> source,
                         std::span<std::uint8_t> destination) override;

  // Unlike decompression, a failed compression leaves the destination as written.
  void compress(const std::wstring& source, const std::wstring& destination) override;
  void compress(HANDLE source, HANDLE destination) override;
  void compress(std::span<const std::uint8_t> source, const std::wstring& destination) override;
  void compress(std::span<const std::uint8_t> source, HANDLE destination) override;
  std::vector<std::uint8_t> compress(std::span<const std::uint8_t> source) override;

  const lzma_decoder& decoder() const noexcept { return decoder_; }

 private:
  lzma_decoder decoder_;
  lzma_encoder encoder_;
};

}  // namespace vyn::packers

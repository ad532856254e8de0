#include "payload/lzma_packer.h"

#include <algorithm>

#include <fmt/format.h>

#include "foundation/exceptions.h"
#include "foundation/file_mapping.h"
#include "foundation/handle.h"
#include "foundation/strings.h"
#include "payload/file_io.h"

namespace vyn::packers {
namespace {

using vyn::exceptions::error;

bool valid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }

win::unique_handle open_source(const std::wstring& path) {
  win::unique_handle file(::CreateFileW(path.c_str(), FILE_READ_DATA, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) {
    throw error(::GetLastError(), fmt::format("Unable to open file '{}'!", utils::to_log(path)));
  }
  return file;
}

win::unique_handle create_destination(const std::wstring& path) {
  win::unique_handle file(::CreateFileW(path.c_str(), FILE_WRITE_DATA, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                        nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    throw error(::GetLastError(), fmt::format("Unable to create file '{}'!", utils::to_log(path)));
  }
  return file;
}

// Decoded bytes go to an open file, pass by pass.
class file_sink final : public decode_sink {
 public:
  explicit file_sink(HANDLE file) : file_(file) {}

  void begin(std::uint64_t declared_size) override {
    if (lzma_size_known(declared_size)) sfx::file_io::set_file_size(file_, static_cast<std::int64_t>(declared_size));
  }
  void write(std::span<const std::uint8_t> bytes) override {
    sfx::file_io::write_all(file_, bytes, "Unable to write uncompressed data to the disk!");
  }
  void end(std::uint64_t produced, std::uint64_t declared_size) override {
    if (produced != declared_size) sfx::file_io::set_file_size(file_, static_cast<std::int64_t>(produced));
  }

 private:
  HANDLE file_;
};

class file_source final : public encode_source {
 public:
  explicit file_source(HANDLE file) : file_(file) {}
  bool read(void* buffer, std::size_t& size) noexcept override {
    DWORD got = 0;
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(size, 0x100000));
    if (!::ReadFile(file_, buffer, wanted, &got, nullptr)) return false;
    size = got;
    return true;
  }

 private:
  HANDLE file_;
};

class file_writer final : public encode_sink {
 public:
  explicit file_writer(HANDLE file) : file_(file) {}
  std::size_t accept(std::span<const std::uint8_t> bytes) noexcept override {
    std::size_t done = 0;
    while (done < bytes.size()) {
      DWORD written = 0;
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 0x2000000));
      if (!::WriteFile(file_, bytes.data() + done, chunk, &written, nullptr) || written == 0) {
        error_ = ::GetLastError();
        break;
      }
      done += written;
    }
    return done;
  }
  std::uint32_t last_error() const noexcept override { return error_; }

 private:
  HANDLE file_;
  std::uint32_t error_ = 0;
};

// A mapped file, one bounded view at a time: a 32-bit process has no room for a view of a
// download of a few hundred megabytes.
class mapped_file_source final : public decode_source {
 public:
  explicit mapped_file_source(const files::file_mapping& mapping) : mapping_(mapping) {}
  std::span<const std::uint8_t> next() override {
    view_ = {};
    if (offset_ == mapping_.size()) return {};
    const std::uint64_t piece = std::min(files::sliding_view_size, mapping_.size() - offset_);
    try {
      view_ = mapping_.map_view(offset_, piece);
    } catch (const error& e) {
      throw error(e.code(), "Unable to retrieve size of unmapped view!");
    }
    offset_ += piece;
    return view_.bytes();
  }

 private:
  const files::file_mapping& mapping_;
  files::mapped_view view_;
  std::uint64_t offset_ = 0;
};

std::uint64_t size_of_input(HANDLE file) {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file, &size)) throw error(::GetLastError(), "Unable to retrieve the size of the input file!");
  return static_cast<std::uint64_t>(size.QuadPart);
}

}  // namespace

lzma_packer::lzma_packer(int level, std::uint32_t dictionary_size) : encoder_(level, dictionary_size) {}

void lzma_packer::decompress(const std::wstring& source, const std::wstring& destination) {
  if (source.empty() || destination.empty()) throw error(87u, "Missing source or destination path!");
  const auto input = open_source(source);
  auto output = create_destination(destination);
  try {
    decompress(input.get(), output.get());
  } catch (...) {
    output.reset();
    ::DeleteFileW(destination.c_str());
    throw;
  }
}

void lzma_packer::decompress(HANDLE source, HANDLE destination) {
  if (!valid(source) || !valid(destination)) throw error(87u, "Invalid source or destination handle!");
  const files::file_mapping mapping(source);
  // An empty file maps to no bytes, which is no stream.
  if (mapping.size() == 0) throw error(87u, "No LZMA stream to decompress!");
  mapped_file_source input(mapping);
  file_sink sink(destination);
  decoder_.decode(input, sink);
}

void lzma_packer::decompress(std::span<const std::uint8_t> source, const std::wstring& destination) {
  const auto output = create_destination(destination);
  decompress(source, output.get());
}

void lzma_packer::decompress(std::span<const std::uint8_t> source, HANDLE destination) {
  if (!valid(destination)) throw error(87u, "Invalid destination handle!");
  file_sink sink(destination);
  decoder_.decode(source, sink);
}

std::vector<std::uint8_t> lzma_packer::decompress(std::span<const std::uint8_t> source) {
  std::vector<std::uint8_t> bytes;
  vector_sink sink(bytes);
  decoder_.decode(source, sink);
  return bytes;
}

std::size_t lzma_packer::decompress(std::span<const std::uint8_t>, std::span<std::uint8_t>) {
  throw error(120u, "This operation is not supported by the LZMA packer!");
}

void lzma_packer::compress(const std::wstring& source, const std::wstring& destination) {
  if (source.empty() || destination.empty()) throw error(87u, "Missing source or destination path!");
  const auto input = open_source(source);
  const auto output = create_destination(destination);
  compress(input.get(), output.get());
}

void lzma_packer::compress(HANDLE source, HANDLE destination) {
  if (!valid(source) || !valid(destination)) throw error(87u, "Invalid source or destination handle!");
  file_source reader(source);
  file_writer writer(destination);
  encoder_.encode(reader, size_of_input(source), writer);
}

void lzma_packer::compress(std::span<const std::uint8_t> source, const std::wstring& destination) {
  const auto output = create_destination(destination);
  compress(source, output.get());
}

void lzma_packer::compress(std::span<const std::uint8_t> source, HANDLE destination) {
  if (!valid(destination)) throw error(87u, "Invalid destination handle!");
  span_source reader(source);
  file_writer writer(destination);
  encoder_.encode(reader, source.size(), writer);
}

std::vector<std::uint8_t> lzma_packer::compress(std::span<const std::uint8_t> source) {
  std::vector<std::uint8_t> bytes;
  span_source reader(source);
  vector_sink writer(bytes);
  encoder_.encode(reader, source.size(), writer);
  return bytes;
}

}  // namespace vyn::packers

// Decodes a ".lzma" stream memory to memory pass by pass and discards the output (or writes it to
// standard output with --stdout, to check it). Prints the decoding time and throughput.
//   bench_lzma_decode <stream> [--stdout]
// The stream is mapped from its file, as the stub maps its payload and the files it unpacks, so
// that the figures are those of decoding rather than of copying the file into memory first.

#include <chrono>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "foundation/file_mapping.h"
#include "foundation/handle.h"
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "foundation/exceptions.h"
#include "payload/lzma_codec.h"

namespace {

#ifdef _WIN32
class mapped_file {
 public:
  explicit mapped_file(const char* path)
      : file_(::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)) {
    if (!file_) return;
    mapping_ = std::make_unique<vyn::files::file_mapping>(file_.get());
    bytes_ = mapping_->view().bytes();
  }
  std::span<const std::uint8_t> bytes() const { return bytes_; }

 private:
  vyn::win::unique_handle file_;
  std::unique_ptr<vyn::files::file_mapping> mapping_;
  std::span<const std::uint8_t> bytes_;
};
#else
class mapped_file {
 public:
  explicit mapped_file(const char* path) {
    const int fd = ::open(path, O_RDONLY);
    if (fd < 0) return;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && info.st_size > 0) {
      void* base = ::mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
      if (base != MAP_FAILED) bytes_ = {static_cast<const std::uint8_t*>(base), static_cast<std::size_t>(info.st_size)};
    }
    ::close(fd);
  }
  ~mapped_file() {
    if (!bytes_.empty()) ::munmap(const_cast<std::uint8_t*>(bytes_.data()), bytes_.size());
  }
  mapped_file(const mapped_file&) = delete;
  mapped_file& operator=(const mapped_file&) = delete;
  std::span<const std::uint8_t> bytes() const { return bytes_; }

 private:
  std::span<const std::uint8_t> bytes_;
};
#endif

class output final : public vyn::packers::decode_sink {
 public:
  explicit output(std::FILE* to) : to_(to) {}
  void begin(std::uint64_t) override {}
  void write(std::span<const std::uint8_t> bytes) override {
    if (to_ && std::fwrite(bytes.data(), 1, bytes.size(), to_) != bytes.size()) {
      throw vyn::exceptions::error(5u, "write to standard output failed");
    }
    produced += bytes.size();
  }
  void end(std::uint64_t, std::uint64_t) override {}

  std::uint64_t produced = 0;

 private:
  std::FILE* to_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_lzma_decode <stream> [--stdout]\n");
    return 2;
  }
  const bool to_stdout = argc > 2 && std::strcmp(argv[2], "--stdout") == 0;
#ifdef _WIN32
  if (to_stdout) _setmode(_fileno(stdout), _O_BINARY);  // no line-end translation of the bytes
#endif
  const auto start = std::chrono::steady_clock::now();
  output sink(to_stdout ? stdout : nullptr);
  try {
    const mapped_file stream(argv[1]);
    if (stream.bytes().empty()) {
      std::fprintf(stderr, "cannot map %s\n", argv[1]);
      return 1;
    }
    vyn::packers::lzma_decoder decoder;
    decoder.decode(stream.bytes(), sink);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "decoding failed: %s\n", e.what());
    return 1;
  }
  const auto done = std::chrono::steady_clock::now();
  const double decode_s = std::chrono::duration<double>(done - start).count();
  std::fprintf(stderr, "decoded %llu bytes in %.3f s (%.1f MB/s)\n",
               static_cast<unsigned long long>(sink.produced), decode_s, sink.produced / decode_s / 1e6);
  return 0;
}

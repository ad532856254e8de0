#include "file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "command.h"

namespace vyn::tool {
namespace {

[[noreturn]] void io_failure(const std::string& what, const std::filesystem::path& path, int error) {
  throw tool_error(exit_io, what + " '" + path.string() + "': " + std::strerror(error));
}

}  // namespace

std::vector<std::uint8_t> read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) io_failure("cannot open", path, errno);
  std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) io_failure("cannot read", path, errno);
  return data;
}

void write_file(const std::filesystem::path& path, std::span<const std::uint8_t> data, bool owner_only) {
  std::filesystem::path temp = path;
  temp += ".tmp-" + std::to_string(::getpid());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, owner_only ? 0600 : 0644);
  if (fd < 0) io_failure("cannot create", temp, errno);
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = errno;
      ::close(fd);
      ::unlink(temp.c_str());
      io_failure("cannot write", temp, error);
    }
    done += static_cast<std::size_t>(n);
  }
  const bool synced = ::fsync(fd) == 0;
  const int sync_error = errno;
  if (::close(fd) != 0 || !synced) {
    const int error = synced ? errno : sync_error;
    ::unlink(temp.c_str());
    io_failure("cannot write", temp, error);
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temp.c_str());
    io_failure("cannot replace", path, error);
  }
}

void write_file(const std::filesystem::path& path, std::string_view text, bool owner_only) {
  write_file(path, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), owner_only);
}

}  // namespace vyn::tool

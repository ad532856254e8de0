// The transport's failures that need no server: nothing listening, a file too large to resume.

#include <winsock2.h>

#include "net/sfx_win_http.h"

#include <gtest/gtest.h>

#include "foundation/exceptions.h"
#include "foundation/handle.h"
#include "payload/testing/test_support.h"

namespace vyn::sfx {
namespace {

constexpr std::uint32_t seconds = 1000;

// A port on which nothing listens: one the system just gave out and took back.
std::uint16_t closed_port() {
  WSADATA data;
  ::WSAStartup(MAKEWORD(2, 2), &data);
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  int length = sizeof(address);
  ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  ::closesocket(s);
  return ntohs(address.sin_port);
}

TEST(SfxWinHttp, NothingListening_FailsWithTheConnectionErrorAfterTheRetries) {
  const std::uint16_t port = closed_port();
  const struct {
    const char* scheme;
    std::vector<std::uint32_t> pauses;
  } cases[] = {{"https", {1000, 1000}}, {"http", {1000}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.scheme);
    std::vector<std::uint32_t> pauses;
    sfx_win_http http(std::nullopt, [&pauses](std::uint32_t ms) { pauses.push_back(ms); });
    std::vector<std::uint8_t> memory;
    try {
      http.get_to_memory({c.scheme, "127.0.0.1", port, "/x", ""}, &memory, true, 5 * seconds, 5 * seconds,
                         5 * seconds, 5 * seconds);
      ADD_FAILURE() << "connected to a closed port";
    } catch (const exceptions::download_file_fail& e) {
      EXPECT_EQ(e.code(), 12029u);  // ERROR_WINHTTP_CANNOT_CONNECT
      EXPECT_STREQ(e.what(), "Unable to send request");
    }
    EXPECT_EQ(pauses, c.pauses);
  }
}

TEST(SfxWinHttp, ResumingAFileOfFourGibibytes_FailsAtOnceWithANarrowingError) {
  const sfx::testing::temp_folder folder;
  const std::wstring path = (folder / L"huge.bin").wstring();
  win::unique_handle file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file);
  LARGE_INTEGER end{};
  end.QuadPart = 0x100000000LL;
  ASSERT_TRUE(::SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN) && ::SetEndOfFile(file.get()));
  int pauses = 0;
  sfx_win_http http(std::nullopt, [&pauses](std::uint32_t) { ++pauses; });
  try {
    http.get_to_file({"http", "127.0.0.1", closed_port(), "/x", ""}, file.get(), true, 5 * seconds, 5 * seconds,
                     5 * seconds, 5 * seconds);
    ADD_FAILURE() << "resumed past 4 GiB";
  } catch (const exceptions::download_file_fail&) {
    ADD_FAILURE() << "the size went through the retry policy";
  } catch (const vyn::exceptions::error& e) {
    EXPECT_EQ(e.code(), static_cast<std::uint32_t>(ERROR_ARITHMETIC_OVERFLOW));
  }
  EXPECT_EQ(pauses, 0);
}

}  // namespace
}  // namespace vyn::sfx

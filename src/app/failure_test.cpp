#include "app/failure.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "foundation/exceptions.h"

namespace vyn::sfx {
namespace {

namespace ex = sfx::exceptions;
using kind = failure_outcome::message_kind;

template <class Exception>
failure_outcome outcome_of(Exception e) {
  return describe_failure(std::make_exception_ptr(std::move(e)));
}

TEST(Failure, InstallerExceptions_MapToTheirExitCodesAndMessages) {
  const struct {
    failure_outcome actual;
    std::uint32_t exit_code;
    kind shown;
    std::wstring text;
    std::int32_t shown_code;
  } cases[] = {
      {outcome_of(ex::unsupported_os()), 45056, kind::error, L"@Sfx_UnsupportedOS", 45056},
      {outcome_of(ex::insufficient_integrity_level()), 124, kind::error, L"@Sfx_LowIntegrity", 124},
      {outcome_of(ex::sfx_invalid_signature()), 44024, kind::error, L"SFX is not DSA signed!", 44024},
      {outcome_of(ex::download_file_invalid_signature(5, "bad")), 44024, kind::error,
       L"@Sfx_FileInvalidSignature", 44024},
      {outcome_of(ex::download_file_fail(12029, "refused")), 44002, kind::download, L"12029", 12029},
      {outcome_of(ex::download_no_content()), 0xFFFFFFFFu, kind::error, L"No content", -1},
      {outcome_of(ex::missign_sfx_file("gone")), 44051, kind::error, L"@Sfx_MissingSfx", 44051},
      {outcome_of(ex::ppi_abort(7)), 7, kind::none, L"", 7},
      {outcome_of(ex::ppi_cancel()), 1223, kind::error, L"", 1223},
      {outcome_of(ex::invalid_payload("bad record")), 487, kind::error, L"bad record", 487},
      {outcome_of(vyn::exceptions::error(5, "Access denied")), 5, kind::error, L"Access denied", 5},
      {outcome_of(vyn::exceptions::fatal("message only")), 0xFFFFFFFFu, kind::error, L"message only", -1},
      {outcome_of(std::runtime_error("boom")), 1, kind::error, L"boom", 1},
      {outcome_of(std::invalid_argument("invalid stoi argument")), 1, kind::error, L"invalid stoi argument", 1},
      {outcome_of(42), 1, kind::error, L"Unknown exception", 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.actual.exit_code, c.exit_code) << c.text;
    EXPECT_EQ(c.actual.kind, c.shown) << c.text;
    EXPECT_EQ(c.actual.text, c.text) << c.text;
    EXPECT_EQ(c.actual.shown_code, c.shown_code) << c.text;
  }
}

TEST(Failure, DownloadFailure_HandsItsMessageToReporting) {
  EXPECT_EQ(outcome_of(ex::download_file_fail(404, "HTTP 404")).crash_message, "HTTP 404");
  EXPECT_FALSE(outcome_of(ex::download_file_invalid_signature(1, "sig")).crash_message);
  EXPECT_FALSE(outcome_of(ex::unsupported_os()).crash_message);
}

TEST(Failure, MessageNotUtf8_KeepsItsAsciiPart) {
  EXPECT_EQ(outcome_of(std::runtime_error("bad \xFF byte")).text, L"bad ? byte");
  EXPECT_EQ(message_text("caf\xC3\xA9"), L"caf\u00E9");
}

}  // namespace
}  // namespace vyn::sfx

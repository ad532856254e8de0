#include "app/failure.h"

#include "app/exit_codes.h"
#include "foundation/exceptions.h"
#include "foundation/log.h"
#include "foundation/strings.h"

namespace vyn::sfx {
namespace {

namespace ex = sfx::exceptions;
using kind = failure_outcome::message_kind;

std::int32_t as_signed(std::uint32_t code) { return static_cast<std::int32_t>(code); }

failure_outcome shown(std::uint32_t exit_code, std::wstring text, std::uint32_t shown_code) {
  return {exit_code, kind::error, std::move(text), as_signed(shown_code), std::nullopt};
}

// The order of the handlers matters: derived types come before their bases.
failure_outcome classify(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const ex::unsupported_os&) {
    return shown(exit_code::unsupported_os, L"@Sfx_UnsupportedOS", exit_code::unsupported_os);
  } catch (const ex::download_file_invalid_signature&) {
    return shown(exit_code::invalid_signature, L"@Sfx_FileInvalidSignature", exit_code::invalid_signature);
  } catch (const ex::sfx_invalid_signature& e) {
    return shown(exit_code::invalid_signature, message_text(e.what()), e.code());
  } catch (const ex::download_file_fail& e) {
    return {exit_code::download_failed, kind::download, utils::decimal(as_signed(e.code())),
            as_signed(e.code()), std::string(e.what())};
  } catch (const ex::missign_sfx_file&) {
    return shown(exit_code::missing_sfx_file, L"@Sfx_MissingSfx", exit_code::missing_sfx_file);
  } catch (const ex::ppi_abort& e) {
    return {e.code(), kind::none, {}, as_signed(e.code()), std::nullopt};
  } catch (const ex::insufficient_integrity_level& e) {
    return shown(e.code(), L"@Sfx_LowIntegrity", e.code());
  } catch (const vyn::exceptions::detail::base& e) {
    VYN_LOG_EXC(log::level::error, e, "SFX run failed.");
    return shown(e.code(), message_text(e.what()), e.code());
  } catch (const std::exception& e) {
    VYN_LOG_ERROR("SFX catch generic exception: {}", e.what());
    return shown(exit_code::generic_failure, message_text(e.what()), exit_code::generic_failure);
  } catch (...) {
    VYN_LOG_ERROR("SFX catch generic exception: {}", "unknown exception");
    return shown(exit_code::generic_failure, L"Unknown exception", exit_code::generic_failure);
  }
}

}  // namespace

std::wstring message_text(const char* message) {
  try {
    return utils::to_wide(message);
  } catch (const std::exception&) {
    std::wstring text;
    for (const char* c = message; *c; ++c) {
      text.push_back(static_cast<unsigned char>(*c) < 0x80 ? static_cast<wchar_t>(*c) : L'?');
    }
    return text;
  }
}

failure_outcome describe_failure(const std::exception_ptr& failure) noexcept {
  try {
    return classify(failure);
  } catch (...) {
    // Only resource exhaustion gets here; the exit code must still come out.
    return {exit_code::generic_failure, kind::none, {}, as_signed(exit_code::generic_failure), std::nullopt};
  }
}

}  // namespace vyn::sfx

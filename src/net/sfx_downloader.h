#pragma once
// Fetches what the installer takes from the repository: the product description and the setup
// files by their SHA-256. Every object is LZMA-packed and signed; setup files are also compared
// with their expected SHA-256 once unpacked.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/shared_context.h"
#include "net/download_rules.h"
#include "net/sfx_win_http.h"
#include "payload/verify_signature.h"
#include "setup/product_info_parser.h"
#include "setup/product_info_parser_intf.h"

namespace vyn::sfx {

class sfx_downloader_intf {
 public:
  // Receives the bytes of each chunk just received and the expected total (0 when unknown).
  using progress_callback = std::function<void(std::uint32_t bytes, std::int64_t total)>;

  // Fetches, checks, unpacks and parses the product description at url.
  virtual std::shared_ptr<product_info_parser_intf> download_product_info(const std::wstring& url) = 0;
  // Fetches the object of hash from the repository, unpacks it to target and compares its SHA-256
  // with expected_sha256.
  virtual void download_by_hash(const std::wstring& hash, const std::wstring& target,
                                const std::wstring& expected_sha256) = 0;
  virtual void download_and_unpack(const std::wstring& url, const std::wstring& target,
                                   bool check_module_signature, bool log_failures) = 0;
  virtual void set_progress_callback(progress_callback callback) = 0;
  // MiB/s over the successful transfers so far; 0 before the first.
  virtual double average_speed() const = 0;
  virtual void download_to_file(const std::wstring& url, const std::wstring& target, bool log_failures,
                                bool alternative_signature_check) = 0;
  virtual ~sfx_downloader_intf() = default;
};

// The repository downloads over the HTTP transport (resume on, time-outs of 15 s for sending,
// receiving and resolving and 30 s for connecting) with the run's proxy settings. Failures:
// exceptions::download_file_fail (transfers, a missing base URL, other errors of a transfer's
// set-up), download_file_invalid_signature (a signature check), download_no_content (a 204,
// except for the description, where it becomes download_file_fail code 13), and
// vyn::exceptions::error for an unpacked file whose SHA-256 differs. A target whose unpacking or
// checks fail is deleted; received packed data lives in a temporary file that deletes itself.
class sfx_downloader : public sfx_downloader_intf,
                       public sfx_data_holder,
                       public sfx_win_http::factory,
                       public verify_signature::factory,
                       public product_info_parser::factory {
 public:
  class factory {
   public:
    virtual ~factory() = default;
    virtual std::shared_ptr<sfx_downloader_intf> create_sfx_downloader(shared_context& context) = 0;
  };

  // Reads "base-url" from the context's values and the proxy settings from its proxy parser (when
  // there is one); the context must outlive the downloader.
  explicit sfx_downloader(shared_context& context) : sfx_data_holder(context) {}

  std::shared_ptr<product_info_parser_intf> download_product_info(const std::wstring& url) override;
  void download_by_hash(const std::wstring& hash, const std::wstring& target,
                        const std::wstring& expected_sha256) override;
  void download_and_unpack(const std::wstring& url, const std::wstring& target, bool check_module_signature,
                           bool log_failures) override;
  void set_progress_callback(progress_callback callback) override { progress_ = std::move(callback); }
  double average_speed() const override { return speeds_.average(); }
  void download_to_file(const std::wstring& url, const std::wstring& target, bool log_failures,
                        bool alternative_signature_check) override;

  std::unique_ptr<sfx_win_http_intf> create_sfx_win_http(std::optional<http::ProxySettings> proxy) override;
  std::shared_ptr<verify_signature_intf> create_verify_signature() override;
  std::shared_ptr<product_info_parser_intf> create_product_info_parser(shared_context& context) override;

 private:
  // One transfer into memory or into the open file (the other one null) and the signature check
  // of what arrived; returns the HTTP status.
  std::int32_t download_internal(const std::wstring& url, std::vector<std::uint8_t>* memory, void* file,
                                 bool log_failures, bool alternative_signature_check);
  // download_and_unpack, with the unpacked file's SHA-256 compared while it is still open when
  // expected_sha256 is given, so that a mismatching file is deleted like any other failed one.
  void fetch_and_unpack(const std::wstring& url, const std::wstring& target, bool check_module_signature,
                        bool log_failures, const std::wstring* expected_sha256);

  progress_callback progress_;
  http::speed_statistics speeds_;
};

}  // namespace vyn::sfx

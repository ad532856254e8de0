#pragma once
// Fetches what the installer takes from the repository: the product description and the setup
// files by their SHA-256. Every object is LZMA-packed and signed; setup files are also compared
// with their expected SHA-256 once unpacked.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/shared_context.h"
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

class sfx_downloader : public sfx_downloader_intf {
 public:
  class factory {
   public:
    virtual ~factory() = default;
    virtual std::shared_ptr<sfx_downloader_intf> create_sfx_downloader(shared_context& context) = 0;
  };
};

}  // namespace vyn::sfx

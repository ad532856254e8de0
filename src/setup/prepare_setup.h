#pragma once
// Turns the stub's configuration into a ready installation folder: reads "sfx-info.xml", obtains
// the product description and every setup file that applies (from the payload or downloaded),
// fills the setup information document and names the setup master to start.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/shared_context.h"
#include "net/sfx_downloader.h"
#include "payload/sfx_edat.h"
#include "payload/verify_signature.h"
#include "setup/info_parser.h"
#include "setup/master_setup_evaluator.h"
#include "setup/product_info_parser.h"
#include "ui/confirm_dlg.h"

namespace vyn::sfx {

class prepare_setup_intf {
 public:
  // Shows the splash window; receives the product title.
  using show_splash_callback = std::function<void(const std::wstring& title)>;
  // Receives the overall progress in percent, 0 to 100.
  using report_progress_callback = std::function<void(std::uint8_t percent)>;

  // Sets command_line to the setup master's command text: its full path, followed by a blank and
  // its arguments when the product description gives any. Both callbacks may be empty. Returns
  // when every setup file is in the temporary folder; raises otherwise (exceptions::ppi_cancel
  // when the user cancelled).
  virtual void prepare(std::wstring& command_line, show_splash_callback show_splash,
                       report_progress_callback report_progress) = 0;
  virtual ~prepare_setup_intf() = default;
};

// A factory that yields no downloader makes a run take everything from the payload, and a
// download it cannot avoid fails as an unreachable repository would.
class prepare_setup : public prepare_setup_intf,
                      public sfx_data_holder,
                      public sfx_downloader::factory,
                      public info_parser::factory,
                      public product_info_parser::factory,
                      public master_setup_evaluator::factory,
                      public verify_signature::factory,
                      public sfx_edat::factory,
                      public confirm_dlg::factory,
                      public microstub::factory {
 public:
  class factory {
   public:
    virtual ~factory() = default;
    // The preparation works with the run's shared context, which must outlive it.
    virtual std::unique_ptr<prepare_setup_intf> create_prepare_setup(shared_context& context) = 0;
  };

  // Receives the bytes just placed and the file's total size.
  using file_progress = sfx_downloader_intf::progress_callback;

  explicit prepare_setup(shared_context& context) : sfx_data_holder(context) {}

  void prepare(std::wstring& command_line, show_splash_callback show_splash,
               report_progress_callback report_progress) override;

  std::shared_ptr<sfx_downloader_intf> create_sfx_downloader(shared_context& context) override;
  std::shared_ptr<info_parser_intf> create_info_parser(shared_context& context) override;
  std::shared_ptr<product_info_parser_intf> create_product_info_parser(shared_context& context) override;
  std::unique_ptr<master_setup_evaluator_intf> create_master_setup_evaluator() override;
  std::shared_ptr<verify_signature_intf> create_verify_signature() override;
  std::unique_ptr<sfx_edat_intf> create_sfx_edat(shared_context& context) override;
  std::unique_ptr<confirm_dlg_intf> create_confirm_dlg() override;
  std::shared_ptr<microstub_intf> create_microstub(shared_context& context) override;

 protected:
  // Places one setup file of product in folder: from the payload (by SHA-256, else by its name
  // as alias), else downloaded. A name that would leave the folder (see stays_in_folder) is
  // refused with vyn::exceptions::error code 123 before anything is written; the sub-folders a
  // name gives are created. progress may be empty.
  virtual void process_setup_file(const file_info& file, const product_info& product,
                                  const std::wstring& folder, bool offline, const file_progress& progress);
  // Asks the channel plug-in at dll_path for the product's channel; empty to keep the current one.
  virtual std::wstring plugin_channel(const std::wstring& dll_path, const product_info& product);

 private:
  std::shared_ptr<product_info_parser_intf> product_description(const std::wstring& base_url,
                                                                const product_info& product, bool offline);
  std::shared_ptr<product_info_parser_intf> description_from_payload(const std::wstring& alias);
  sfx_downloader_intf& downloader(const std::wstring& what);
  void record_cookie(const std::wstring& cookie);

  std::shared_ptr<sfx_downloader_intf> downloader_;  // empty when this build has none
};

}  // namespace vyn::sfx

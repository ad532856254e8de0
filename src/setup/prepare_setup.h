#pragma once
// Turns the stub's configuration into a ready installation folder: reads "sfx-info.xml", obtains
// the product description and every setup file that applies (from the payload or downloaded),
// fills the setup information document and names the setup master to start.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/shared_context.h"

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

class prepare_setup : public prepare_setup_intf {
 public:
  class factory {
   public:
    virtual ~factory() = default;
    // The preparation works with the run's shared context, which must outlive it.
    virtual std::unique_ptr<prepare_setup_intf> create_prepare_setup(shared_context& context) = 0;
  };
};

}  // namespace vyn::sfx

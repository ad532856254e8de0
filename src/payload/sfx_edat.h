#pragma once
// Small data files (".edat") for the setup master: those the payload carries, and those a
// launching stub hands over in the folder it names, after its own signature was checked.

#include <memory>
#include <string>

#include "app/shared_context.h"
#include "payload/verify_signature.h"

namespace vyn::sfx {

class sfx_edat_intf {
 public:
  // Unpacks the payload's ".edat" files into the temporary folder; failures are only logged.
  virtual void unpack_edat_files() = 0;
  virtual ~sfx_edat_intf() = default;
};

// Every payload record whose alias contains ".edat" (in any case) is unpacked to the run's
// temporary folder under its alias, sub-folders included; an alias that would leave that folder
// is skipped.
class sfx_edat : public sfx_edat_intf, public sfx_data_holder {
 public:
  class factory {
   public:
    virtual ~factory() = default;
    virtual std::unique_ptr<sfx_edat_intf> create_sfx_edat(shared_context& context) = 0;
  };

  explicit sfx_edat(shared_context& context) : sfx_data_holder(context) {}

  void unpack_edat_files() override;
};

class microstub_intf {
 public:
  // Whether the process that started the stub carries a valid signature; false without "edat_dir".
  virtual bool verify() = 0;
  // The launching stub's cookie; empty unless verified and present.
  virtual std::wstring cookie() = 0;
  // Copies the launching stub's ".edat" files into the temporary folder when verified.
  virtual void copy_edat_files() = 0;
  virtual ~microstub_intf() = default;
};

// The launching stub (the process that started this one) when the command line names its folder
// with "edat_dir". Its executable must carry a signature of the launching-stub key set; only then
// are its cookie ("<edat_dir>ecoo.edat", the value taken as it is, without a separator added)
// and the ".edat" files of that folder taken over. No operation raises.
class microstub : public microstub_intf, public verify_signature::factory, public sfx_data_holder {
 public:
  class factory {
   public:
    virtual ~factory() = default;
    virtual std::shared_ptr<microstub_intf> create_microstub(shared_context& context) = 0;
  };

  explicit microstub(shared_context& context) : sfx_data_holder(context) {}

  bool verify() override;
  std::wstring cookie() override;
  void copy_edat_files() override;

  std::shared_ptr<verify_signature_intf> create_verify_signature() override;

 protected:
  // The executable of the process that started this one; raises when it is gone or unreadable.
  virtual std::wstring parent_image_path();

 private:
  bool verified_ = false;
};

}  // namespace vyn::sfx

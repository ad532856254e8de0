#pragma once
// Small data files (".edat") for the setup master: those the payload carries, and those a
// launching stub hands over in the folder it names, after its own signature was checked.

#include <memory>
#include <string>

#include "app/shared_context.h"

namespace vyn::sfx {

class sfx_edat_intf {
 public:
  // Unpacks the payload's ".edat" files into the temporary folder; failures are only logged.
  virtual void unpack_edat_files() = 0;
  virtual ~sfx_edat_intf() = default;
};

class sfx_edat : public sfx_edat_intf {
 public:
  class factory {
   public:
    virtual ~factory() = default;
    virtual std::unique_ptr<sfx_edat_intf> create_sfx_edat(shared_context& context) = 0;
  };
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

class microstub : public microstub_intf {
 public:
  class factory {
   public:
    virtual ~factory() = default;
    virtual std::shared_ptr<microstub_intf> create_microstub(shared_context& context) = 0;
  };
};

}  // namespace vyn::sfx

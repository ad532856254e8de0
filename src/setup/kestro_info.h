#pragma once

#include <memory>

#include "setup/kestro_info_intf.h"

namespace vyn::sfx {

class kestro_info : public kestro_info_intf {
 public:
  class factory {
   public:
    virtual ~factory() = default;
    // A document holding the declaration and the empty root element.
    virtual std::shared_ptr<kestro_info_intf> create_kestro_info() = 0;
  };
};

}  // namespace vyn::sfx

#pragma once
// The run's shared context: what every component of a run reaches through the run object.

#include <memory>

#include "app/command_line.h"
#include "app/value_holder_intf.h"

namespace vyn::sfx {

class payload_intf;
class kestro_info_intf;
class sfx_reporting_intf;
class sfx_proxy_parser_intf;
class microstub_intf;

struct shared_context {
  std::shared_ptr<value_holder_intf> values;
  std::shared_ptr<payload_intf> payload;          // empty when the stub has no payload index
  std::shared_ptr<kestro_info_intf> info;         // the setup information document
  command_line cmd;                               // the migrated command line of the run
  std::shared_ptr<sfx_reporting_intf> reporting;  // may be empty
  std::shared_ptr<sfx_proxy_parser_intf> proxy;   // may be empty
  std::shared_ptr<microstub_intf> microstub;      // the launching stub, once preparation looked
};

// Base of the components that work with the run's shared context.
class sfx_data_holder {
 public:
  explicit sfx_data_holder(shared_context& context) : context_(context) {}

 protected:
  shared_context& context_;
};

}  // namespace vyn::sfx

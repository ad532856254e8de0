#include "setup/running_brand.h"

#include "foundation/product_identity.h"

namespace vyn::repository::conditions {
namespace {

const root::brand_kind* override_kind = nullptr;

}  // namespace

root::brand_kind running_brand_kind() { return override_kind ? *override_kind : root::brand().kind; }

scoped_brand_override::scoped_brand_override(root::brand_kind kind) : kind_(kind), previous_(override_kind) {
  override_kind = &kind_;
}

scoped_brand_override::~scoped_brand_override() { override_kind = previous_; }

}  // namespace vyn::repository::conditions

#pragma once
// The brand kind of the running executable as the "brand" condition sees it, with a scoped
// replacement for tests (the brand record itself is computed once from the image's version
// resource and cannot be changed).

#include "foundation/brand.h"

namespace vyn::repository::conditions {

root::brand_kind running_brand_kind();

// While alive, running_brand_kind() returns the given kind. Overrides nest; not synchronised with
// concurrent readers.
class scoped_brand_override {
 public:
  explicit scoped_brand_override(root::brand_kind kind);
  ~scoped_brand_override();
  scoped_brand_override(const scoped_brand_override&) = delete;
  scoped_brand_override& operator=(const scoped_brand_override&) = delete;

 private:
  root::brand_kind kind_;
  const root::brand_kind* previous_;
};

}  // namespace vyn::repository::conditions

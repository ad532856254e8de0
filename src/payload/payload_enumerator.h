#pragma once
// Walks the records of the payload appended behind the stub's PE image.

#include <memory>
#include <optional>

#include "foundation/file_mapping.h"
#include "payload/payload_format.h"
#include "payload/payload_record.h"

namespace vyn::sfx {

class payload_enumerator_intf {
 public:
  virtual bool first() = 0;
  virtual bool next() = 0;
  virtual std::optional<payload_record> current() const = 0;
  virtual ~payload_enumerator_intf() = default;
};

class payload_enumerator : public payload_enumerator_intf {
 public:
  class factory {
   public:
    virtual ~factory() = default;
    // Validates the image headers of the mapped stub file; raises on a malformed image.
    virtual std::unique_ptr<payload_enumerator_intf> create_payload_enumerator(
        std::shared_ptr<files::file_mapping> mapping) = 0;
  };

  // Validates the image headers and computes the payload start; every header failure is raised
  // from here. Keeps the mapping alive for the enumerator's lifetime.
  explicit payload_enumerator(std::shared_ptr<files::file_mapping> mapping);

  // Positions on the first record; false for an empty payload or a lone end record.
  bool first() override;
  // Moves to the record behind the current one; false at the end record or without a current one.
  bool next() override;
  // The current record; none before first() and after the end record.
  std::optional<payload_record> current() const override { return walker_.current(); }

 private:
  std::shared_ptr<files::file_mapping> mapping_;
  record_walker walker_;
};

}  // namespace vyn::sfx

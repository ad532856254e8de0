#pragma once
// The index of the stub's payload records, by alias and by SHA-256, and their unpackers.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/shared_context.h"

namespace vyn::sfx {

class unpacker_intf {
 public:
  // Unpacks the record into a new file at path; a failed or unverified unpack leaves no file.
  virtual void unpack_to_file(const std::wstring& path) = 0;
  virtual std::vector<std::uint8_t> unpack() = 0;
  virtual ~unpacker_intf() = default;
};

class payload_intf {
 public:
  virtual ~payload_intf() = default;
  virtual std::shared_ptr<unpacker_intf> find_by_hash(const std::wstring& sha256) = 0;
  virtual std::shared_ptr<unpacker_intf> find_by_alias(const std::wstring& alias) = 0;
  virtual std::vector<std::wstring> aliases() = 0;
  virtual std::optional<std::wstring> text_by_alias(const std::wstring& alias) = 0;
};

class payload : public payload_intf {
 public:
  class factory {
   public:
    virtual ~factory() = default;
    // Opens and indexes the stub file at stub_path; publishes its records in context.info.
    virtual std::unique_ptr<payload_intf> create_payload(const std::wstring& stub_path,
                                                         shared_context& context) = 0;
  };
};

}  // namespace vyn::sfx

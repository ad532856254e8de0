#pragma once
// The index of the stub's payload records, by alias and by SHA-256, and their unpackers.

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/shared_context.h"
#include "foundation/file_mapping.h"
#include "foundation/handle.h"
#include "foundation/sha256.h"
#include "payload/payload_enumerator.h"
#include "payload/payload_record.h"

namespace vyn::sfx {

class unpacker_intf {
 public:
  // Unpacks the record into a new file at path; a failed or unverified unpack leaves no file.
  virtual void unpack_to_file(const std::wstring& path) = 0;
  virtual std::vector<std::uint8_t> unpack() = 0;
  virtual ~unpacker_intf() = default;
};

// Reproduces one record's content through its data reader (0 stored, 1 LZMA) and checks it
// against the record's SHA-256.
class unpacker : public unpacker_intf {
 public:
  class factory {
   public:
    virtual ~factory() = default;
    virtual std::shared_ptr<unpacker_intf> create_unpacker(std::shared_ptr<files::file_mapping> mapping,
                                                           const payload_record& record) = 0;
  };

  unpacker(std::shared_ptr<files::file_mapping> mapping, const payload_record& record);

  // Raises code 13 for an unknown data reader or a checksum mismatch, code 5 when the record's
  // data lies beyond the file, and the packer's failures.
  void unpack_to_file(const std::wstring& path) override;
  std::vector<std::uint8_t> unpack() override;

 private:
  std::span<const std::uint8_t> stored_bytes() const;
  [[noreturn]] void unsupported_reader() const;
  void verify(const root::digest& actual) const;

  std::shared_ptr<files::file_mapping> mapping_;
  std::uint32_t reader_;  // the record's flags
  std::uint32_t size_;
  std::uint64_t timestamp_;
  std::uint32_t data_offset_;
  std::wstring sha256_;
  std::wstring alias_;
};

class payload_intf {
 public:
  virtual ~payload_intf() = default;
  virtual std::shared_ptr<unpacker_intf> find_by_hash(const std::wstring& sha256) = 0;
  virtual std::shared_ptr<unpacker_intf> find_by_alias(const std::wstring& alias) = 0;
  virtual std::vector<std::wstring> aliases() = 0;
  virtual std::optional<std::wstring> text_by_alias(const std::wstring& alias) = 0;
};

// Opens the stub's file as the payload keeps it: for reading its data, inheritable, and shared for
// reading and deleting only, so that nobody writes it while it is open. An empty handle, with the
// system error code in GetLastError(), when it cannot be opened.
win::unique_handle open_stub_file(const std::wstring& path);

// Built once per run over the stub's own file. Keeps the file open (inheritable, so that the setup
// master can read the payload through the handle published in the setup information document) and
// mapped for the whole run.
class payload : public payload_intf,
                public payload_enumerator::factory,
                public unpacker::factory {
 public:
  class factory {
   public:
    virtual ~factory() = default;
    // Indexes the stub file, open as open_stub_file opens it; publishes its records in
    // context.info.
    virtual std::unique_ptr<payload_intf> create_payload(std::shared_ptr<win::unique_handle> stub_file,
                                                         shared_context& context) = 0;
  };

  // Maps and indexes the open stub file, and appends "file-list" and "file-mapping-sfx" to
  // context.info when the run has a setup information document.
  payload(std::shared_ptr<win::unique_handle> stub_file, shared_context& context);
  // The same over the stub file at stub_path, which it opens. Raises "Failed to open sfx file."
  // with the system error code.
  payload(const std::wstring& stub_path, shared_context& context);

  std::shared_ptr<unpacker_intf> find_by_hash(const std::wstring& sha256) override;
  std::shared_ptr<unpacker_intf> find_by_alias(const std::wstring& alias) override;
  std::vector<std::wstring> aliases() override;
  std::optional<std::wstring> text_by_alias(const std::wstring& alias) override;

  std::unique_ptr<payload_enumerator_intf> create_payload_enumerator(
      std::shared_ptr<files::file_mapping> mapping) override;
  std::shared_ptr<unpacker_intf> create_unpacker(std::shared_ptr<files::file_mapping> mapping,
                                                 const payload_record& record) override;

  // The inheritable handle of the stub file, valid for the payload's lifetime.
  HANDLE file_handle() const noexcept { return file_->get(); }

 private:
  void index(shared_context& context);
  void publish_file_mapping(shared_context& context);

  std::shared_ptr<win::unique_handle> file_;
  std::shared_ptr<files::file_mapping> mapping_;
  std::unordered_map<std::wstring, payload_record> by_hash_;   // records without alias
  std::unordered_map<std::wstring, payload_record> by_alias_;  // records with an alias
};

}  // namespace vyn::sfx

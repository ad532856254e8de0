#pragma once
// The identity of the machine in the analytics records, besides the hardware id that each
// record recomputes (hardware_id_text in midex.h):
//
// - the fingerprint, the mode-2 machine identifier as 32 upper-case hexadecimal digits, kept in
//   permanent storage and replaced only when two or more of the hardware items it was computed
//   from changed since it was stored, so that a single new part keeps the machine's identity;
// - the endpoint identifier, a random version-4 GUID made once per machine and shared with the
//   maker's other products through LC.INI (endpoint_file.h), which only Halvard builds write.
//
// The items behind the stored fingerprint are kept too, encrypted with the local encryption
// whose secret is the mode-1 identifier, then Base64-encoded (source_items.h gives the form).
//
// A provider serves one report: it asks each question once and keeps the answer. An analytics
// record takes its three identity texts this way:
//
//   std::wstring hwid = vyn::mi::hardware_id_text();                     // midex.h
//   auto identity = vyn::mi::make_device_identifier();                   // or a factory's
//   std::wstring fingerprint = vyn::mi::fingerprint_text(*identity);
//   std::wstring endpoint_id = vyn::mi::endpoint_id_text(*identity);
//
// Each raises vyn::exceptions::error when the machine identifier cannot be computed (the
// endpoint identifier never does); storage and LC.INI failures are logged and do not raise.

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/brand.h"
#include "foundation/files_wrapper.h"
#include "net/local_encryption.h"
#include "net/midex.h"
#include "net/permanent_storage.h"

namespace vyn::mi {

class device_identifier_intf {
 public:
  virtual ~device_identifier_intf() = default;
  // The fingerprint, and the names of the stored items that changed since it was stored (empty
  // when it was just made or nothing changed). Raises vyn::exceptions::error when the machine
  // identifier cannot be computed; storage failures are only logged.
  virtual void fingerprint(std::wstring& text, std::vector<std::string>& changed) = 0;
  // The endpoint identifier. Storage and file failures are only logged.
  virtual void endpoint_identifier(std::wstring& text) = 0;
};

// The two texts for a report.
std::wstring fingerprint_text(device_identifier_intf& identity);
std::wstring endpoint_id_text(device_identifier_intf& identity);

// Where one datum is kept (permanent_storage.h).
struct storage_location {
  std::wstring_view k1, k2, n;
};

class device_identifier : public device_identifier_intf,
                          public permanent_storage::factory,
                          public midex::factory,
                          public files::CFilesWrapper::Factory {
 public:
  class factory {
   public:
    virtual ~factory() = default;
    virtual std::unique_ptr<device_identifier_intf> create_device_identifier() = 0;
  };

  // LC.INI is written for the Halvard brand only.
  explicit device_identifier(root::brand_kind brand) : brand_(brand) {}

  // Creates the storage, the machine identifier and the files through the factories and
  // computes the mode-1 identifier for the local encryption. The fingerprint calls it when it was
  // not called before. Raises when the identifier cannot be computed.
  void start();

  void fingerprint(std::wstring& text, std::vector<std::string>& changed) override;
  void endpoint_identifier(std::wstring& text) override;

  std::unique_ptr<permanent_storage_intf> create_permanent_storage() override;
  std::unique_ptr<midex_intf> create_midex() override;
  std::unique_ptr<files::CFilesWrapper> create_files_wrapper() override;

 protected:
  // The path of LC.INI (endpoint_file.h); empty, after a warning, when the common application
  // data folder is unknown.
  virtual std::wstring shared_file_path();

 private:
  void create_parts();
  void make_fingerprint();
  std::wstring find_endpoint_identifier();
  bool store(const storage_location& where, std::wstring_view datum, const char* failure_message);
  void store_source_data(const source_items& items);
  std::optional<source_items> load_source_data();
  void share(const std::wstring& path, const std::wstring& id);

  root::brand_kind brand_;
  std::once_flag parts_once_;
  std::unique_ptr<permanent_storage_intf> storage_;
  std::unique_ptr<midex_intf> midex_;
  std::unique_ptr<files::CFilesWrapper> files_;
  std::optional<framework::local_encryption::LocalEncryption> encryption_;

  std::mutex fingerprint_lock_;
  std::wstring fingerprint_;
  std::vector<std::string> changed_;

  std::mutex endpoint_lock_;
  std::wstring endpoint_;
};

using device_identifier_factory = device_identifier::factory;

// A started provider for the running program's brand, over the system's storage places and
// hardware. Raises when the mode-1 identifier cannot be computed.
std::unique_ptr<device_identifier_intf> make_device_identifier();

}  // namespace vyn::mi

#pragma once
// Data that must survive reinstallation and the cleaning of single places: each datum is kept
// in three places at once, and reading repairs the places that lost their copy.
//
// A datum named by a key pair (k1, k2) and a value name n lives in
//   1. HKEY_LOCAL_MACHINE\SOFTWARE\1D0EC6DE-4A80-4CC3-A335-E6E41C951198, string value k1;
//   2. HKEY_CLASSES_ROOT\C06AEB9D-8774-46E7-8160-8321BCD14D9F, string value k2;
//   3. the file n in the folder %TMP%, holding the text's UTF-16 little-endian code units without
//      terminator or byte-order mark.
// Registry keys are used in the registry view of this process.

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "foundation/files_wrapper.h"
#include "foundation/registry_wrapper.h"

namespace vyn::mi {

class permanent_storage_intf {
 public:
  virtual ~permanent_storage_intf() = default;
  // Writes the datum to all three places. Raises vyn::exceptions::error with code 87 and "PSK
  // contains null" when a name is empty, and with the last failure's code and message when no
  // place could be written; a place that fails alone is logged at warning level.
  virtual void write(std::wstring_view k1, std::wstring_view k2, std::wstring_view n, std::wstring_view datum) = 0;
  // The first copy found (places in the order above; an empty value or file counts as missing, a
  // file of odd length too), written back to all three places; fallback when no place has one.
  // Raises only for an empty name.
  virtual std::wstring read(std::wstring_view k1, std::wstring_view k2, std::wstring_view n,
                            std::wstring_view fallback) = 0;
};

inline constexpr std::wstring_view machine_storage_key = L"SOFTWARE\\1D0EC6DE-4A80-4CC3-A335-E6E41C951198";
inline constexpr std::wstring_view classes_storage_key = L"C06AEB9D-8774-46E7-8160-8321BCD14D9F";

class permanent_storage : public permanent_storage_intf,
                          public files::CFilesWrapper::Factory,
                          public registry::CRegistryWrapper::Factory {
 public:
  class factory {
   public:
    virtual ~factory() = default;
    virtual std::unique_ptr<permanent_storage_intf> create_permanent_storage() = 0;
  };

  void write(std::wstring_view k1, std::wstring_view k2, std::wstring_view n, std::wstring_view datum) override;
  std::wstring read(std::wstring_view k1, std::wstring_view k2, std::wstring_view n,
                    std::wstring_view fallback) override;

  std::unique_ptr<files::CFilesWrapper> create_files_wrapper() override;
  std::unique_ptr<registry::CRegistryWrapper> create_registry_wrapper() override;

 private:
  // The wrappers, created through the factories on first use (once, even when two threads
  // use the storage at the same time).
  files::CFilesWrapper& files();
  registry::CRegistryWrapper& keys();
  std::wstring file_path(std::wstring_view n);
  std::wstring read_copy(std::wstring_view k1, std::wstring_view k2, std::wstring_view n);

  std::once_flag files_once_, keys_once_;
  std::unique_ptr<files::CFilesWrapper> files_;
  std::unique_ptr<registry::CRegistryWrapper> keys_;
};

}  // namespace vyn::mi

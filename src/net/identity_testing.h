#pragma once
// Test seams of the identity tests: the storage's registry roots moved into a private key, the
// common application data folder moved into a scratch folder, and a machine identifier answering
// from a table of items.

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "foundation/files_wrapper.h"
#include "foundation/registry_wrapper.h"
#include "net/device_identifier.h"
#include "net/midex.h"
#include "net/permanent_storage.h"

namespace vyn::mi::testing {

// A private key HKCU\Software\VynTests\<random> standing in for the registry roots, deleted at
// the end. Roots in `failing` refuse every operation with access denied, roots in `read_only`
// every change.
class registry_sandbox {
 public:
  registry_sandbox();
  ~registry_sandbox();
  registry_sandbox(const registry_sandbox&) = delete;
  registry_sandbox& operator=(const registry_sandbox&) = delete;

  // The HKEY_CURRENT_USER path that stands for root\path.
  std::wstring path_of(HKEY root, std::wstring_view path) const;
  std::unique_ptr<registry::CRegistryWrapper> wrapper();

  std::set<HKEY> failing;
  std::set<HKEY> read_only;

 private:
  std::wstring base_;
};

// The real storage over the sandbox's registry; its file copies go to %TMP% as always.
class sandboxed_storage : public permanent_storage {
 public:
  explicit sandboxed_storage(registry_sandbox& sandbox) : sandbox_(sandbox) {}
  std::unique_ptr<registry::CRegistryWrapper> create_registry_wrapper() override { return sandbox_.wrapper(); }

 private:
  registry_sandbox& sandbox_;
};

// A machine identifier made from `items`: mode 2's 16 bytes are the MD5 of the items' stored
// form, so that any change of an item changes them; mode 1's 32 bytes are fixed. A broken one
// fails as a machine whose identifier cannot be computed.
class table_midex : public midex_intf {
 public:
  std::vector<std::uint8_t> get(int mode, std::size_t length, source_items* out) override;

  source_items items;
  bool broken = false;
};

// The real provider over a sandboxed storage, LC.INI in a scratch folder and a table machine
// identifier that the test holds.
class sandboxed_identity : public device_identifier {
 public:
  sandboxed_identity(root::brand_kind brand, registry_sandbox& sandbox, std::wstring shared_file,
                     table_midex& machine)
      : device_identifier(brand), sandbox_(sandbox), shared_file_(std::move(shared_file)), machine_(machine) {}

  std::unique_ptr<permanent_storage_intf> create_permanent_storage() override;
  std::unique_ptr<midex_intf> create_midex() override;

 protected:
  std::wstring shared_file_path() override { return shared_file_; }

 private:
  registry_sandbox& sandbox_;
  std::wstring shared_file_;
  table_midex& machine_;
};

}  // namespace vyn::mi::testing

#pragma once
// The run's private working folder: created with access for the system and administrators only,
// and deleted with everything in it when the owner is destroyed, unless the run asked to keep it.

#include <memory>
#include <string>
#include <string_view>

namespace vyn::sfx {

class temp_dir_intf {
 public:
  // Full path of the folder, without a trailing separator.
  virtual std::wstring get_path() const = 0;
  virtual ~temp_dir_intf() = default;
};

class temp_dir : public temp_dir_intf {
 public:
  class factory {
   public:
    virtual ~factory() = default;
    // Creates a new folder below base (when base names an existing folder) or below the Windows
    // temporary folder. Raises when the folder cannot be created; nothing is returned then.
    virtual std::unique_ptr<temp_dir_intf> create_temp_dir(std::wstring_view base, bool delete_on_destroy) = 0;
  };

  // Creates "<base or %windir%\Temp>\vyn-<random UUID>" (and missing parents) with access for the
  // system and administrators only, and read access for users. Raises vyn::exceptions::error with
  // the system code when the folder cannot be created.
  temp_dir(std::wstring_view base, bool delete_on_destroy);
  // Deletes the folder with everything in it when asked to; what cannot be deleted now is
  // scheduled for deletion at the next restart. Never raises.
  ~temp_dir() override;
  temp_dir(const temp_dir&) = delete;
  temp_dir& operator=(const temp_dir&) = delete;

  std::wstring get_path() const override { return path_; }

 private:
  bool delete_on_destroy_;
  std::wstring path_;
  std::wstring requested_base_;
};

}  // namespace vyn::sfx

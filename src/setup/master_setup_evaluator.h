#pragma once
// Picks the setup master among the prepared setup files and builds its command line from the
// product's "setup-commands" element.

#include <memory>
#include <string>

#include <pugixml.hpp>

namespace vyn::sfx {

class master_setup_evaluator_intf {
 public:
  // Called once for each prepared setup file. setup_commands may be an empty node; folder holds
  // the setup files.
  virtual void evaluate(const std::wstring& file_name, const pugi::xml_node& setup_commands,
                        const std::wstring& folder) = 0;
  // The master's path, followed by a blank and its arguments when there are any; empty until a
  // master file was seen.
  virtual const std::wstring& command_line() const = 0;
  virtual ~master_setup_evaluator_intf() = default;
};

// The master is the file named by the element's "executable" ("kestro.exe" without one), with the
// element's "arguments"; an "sfx" child overrides either. A later matching file replaces the
// command line.
class master_setup_evaluator : public master_setup_evaluator_intf {
 public:
  class factory {
   public:
    virtual ~factory() = default;
    virtual std::unique_ptr<master_setup_evaluator_intf> create_master_setup_evaluator() = 0;
  };

  void evaluate(const std::wstring& file_name, const pugi::xml_node& setup_commands,
                const std::wstring& folder) override;
  const std::wstring& command_line() const override { return command_line_; }

 private:
  std::wstring command_line_;
};

}  // namespace vyn::sfx

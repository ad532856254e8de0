#include "setup/master_setup_evaluator.h"

#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/strings.h"

namespace vyn::sfx {

void master_setup_evaluator::evaluate(const std::wstring& file_name, const pugi::xml_node& setup_commands,
                                      const std::wstring& folder) {
  std::wstring executable = setup_commands.attribute(L"executable").as_string(L"kestro.exe");
  std::wstring arguments = setup_commands.attribute(L"arguments").as_string();
  if (const pugi::xml_node sfx = setup_commands.child(L"sfx")) {
    if (const pugi::xml_attribute a = sfx.attribute(L"executable")) executable = a.value();
    if (const pugi::xml_attribute a = sfx.attribute(L"arguments")) arguments = a.value();
  }
  if (!utils::iequals(file_name, executable)) return;
  command_line_ = folder.empty() ? executable : files::join_path(folder, executable);
  if (!arguments.empty()) command_line_ += L' ' + arguments;
  VYN_LOG_INFO("Setup master '{}' found, command line '{}'", utils::to_log(file_name), utils::to_log(command_line_));
}

}  // namespace vyn::sfx

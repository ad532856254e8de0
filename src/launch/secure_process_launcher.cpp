#include "launch/secure_process_launcher.h"

#include "app/command_line.h"
#include "foundation/log.h"
#include "foundation/strings.h"

namespace vyn::sfx {

std::uint32_t secure_process_launcher::run(const std::wstring& executable, const std::wstring& arguments,
                                           std::uint32_t timeout_ms) {
  VYN_LOG_INFO("Start of run_process '{}', cmdline '{}', timeout '{}'", utils::to_log(executable),
               utils::to_log(arguments), timeout_ms);
  command_line command(arguments, false);
  if (!executable.empty()) command.set_program_name(executable);

  const std::shared_ptr<systools::process_wrapper_intf> wrapper = create_process_wrapper();
  const std::wstring rendered = command.render(true);
  systools::process_handles handles;
  const std::uint32_t result = wrapper->run(rendered, true, true, timeout_ms, handles);
  if (result == systools::still_active) {
    VYN_LOG_WARNING("Process '{}', timeout '{}' is still running", utils::to_log(rendered), timeout_ms);
  } else {
    VYN_LOG_INFO("Process '{}' finished with exit code '{}'", utils::to_log(rendered), result);
  }
  handles.close();
  return result;
}

std::shared_ptr<systools::process_wrapper_intf> secure_process_launcher::create_process_wrapper() {
  return std::make_shared<systools::process_wrapper>();
}

}  // namespace vyn::sfx

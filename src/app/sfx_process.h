#pragma once
// The run of the installer: checks the stub's own signature, opens its payload, migrates the
// command line, chooses the language, prepares the setup files in a private temporary folder,
// starts the setup master and returns its exit code. It creates every component it drives
// through the factory interfaces it implements, so a test can replace any of them.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "app/sfx_migrate_cmd_params.h"
#include "app/sfx_translator.h"
#include "app/shared_context.h"
#include "app/temp_dir.h"
#include "app/value_holder.h"
#include "launch/secure_process_launcher.h"
#include "net/sfx_proxy_parser.h"
#include "net/sfx_reporting.h"
#include "payload/payload.h"
#include "payload/payload_enumerator.h"
#include "payload/verify_signature.h"
#include "setup/info_parser.h"
#include "setup/kestro_info.h"
#include "setup/prepare_setup.h"
#include "ui/gif_wnd.h"
#include "ui/res_gif_wnd_data.h"

namespace vyn::sfx {

class sfx_process_intf {
 public:
  // process_path is the running executable's full path; command_line its arguments without the
  // program name. Returns the exit code of the process; raises what ends the run abnormally.
  virtual std::uint32_t run(const wchar_t* process_path, const wchar_t* command_line) = 0;
  virtual ~sfx_process_intf() = default;
};

class sfx_process : public sfx_process_intf,
                    public verify_signature::factory,
                    public temp_dir::factory,
                    public value_holder::factory,
                    public payload::factory,
                    public features::splash::gif_wnd::factory,
                    public features::splash::res_gif_wnd_data::factory,
                    public payload_enumerator::factory,
                    public prepare_setup::factory,
                    public secure_process_launcher::factory,
                    public kestro_info::factory,
                    public sfx_migrate_cmd_params::factory,
                    public sfx_proxy_parser::factory,
                    public info_parser::factory {
 public:
  class factory {
   public:
    virtual ~factory() = default;
    // reporting and proxy may be empty.
    virtual std::unique_ptr<sfx_process_intf> create_sfx_process(std::shared_ptr<sfx_reporting_intf> reporting,
                                                                 std::shared_ptr<sfx_proxy_parser_intf> proxy,
                                                                 const std::wstring& session_id) = 0;
  };

  sfx_process(std::shared_ptr<sfx_reporting_intf> reporting, std::shared_ptr<sfx_proxy_parser_intf> proxy,
              const std::wstring& session_id);

  std::uint32_t run(const wchar_t* process_path, const wchar_t* command_line) override;

  // The components the stub does not carry yet yield nothing; the run treats them as absent
  // where it can do without them and fails where it cannot.
  std::shared_ptr<verify_signature_intf> create_verify_signature() override;
  std::unique_ptr<temp_dir_intf> create_temp_dir(std::wstring_view base, bool delete_on_destroy) override;
  std::shared_ptr<value_holder_intf> create_value_holder() override;
  std::unique_ptr<payload_intf> create_payload(std::shared_ptr<win::unique_handle> stub_file,
                                               shared_context& context) override;
  std::shared_ptr<features::splash::gif_wnd_intf> create_gif_wnd(
      std::shared_ptr<features::splash::gif_wnd_data_intf> content) override;
  std::shared_ptr<features::splash::gif_wnd_data_intf> create_res_gif_wnd_data(
      HINSTANCE module, int gif_id, const wchar_t* gif_type, int icon_id, const std::wstring& window_title,
      const std::wstring& product_title) override;
  std::unique_ptr<payload_enumerator_intf> create_payload_enumerator(
      std::shared_ptr<files::file_mapping> mapping) override;
  std::unique_ptr<prepare_setup_intf> create_prepare_setup(shared_context& context) override;
  std::shared_ptr<secure_process_launcher_intf> create_secure_process_launcher() override;
  std::shared_ptr<kestro_info_intf> create_kestro_info() override;
  std::unique_ptr<sfx_migrate_cmd_params_intf> create_sfx_migrate_cmd_params() override;
  std::shared_ptr<sfx_proxy_parser_intf> create_sfx_proxy_parser(const std::wstring& command_line) override;
  // The run itself does not call it: the preparation reads sfx-info.xml through its own factory.
  std::shared_ptr<info_parser_intf> create_info_parser(shared_context& context) override;

  const shared_context& context() const { return context_; }

 protected:
  // The translator of the splash texts; empty means texts are shown by identifier, exactly as a
  // translator without its resource shows them.
  virtual std::shared_ptr<sfx_translator_intf> create_translator(std::int32_t language);
  // Writes the proxy settings as "proxy.ini" for the setup master.
  virtual void write_proxy_ini(const http::ProxySettings& settings, const std::wstring& path);

 private:
  struct session;

  // The stub's own file, open, once its signature is verified.
  std::shared_ptr<win::unique_handle> check_own_signature(const std::wstring& process_path);
  std::wstring migrate_command_line(const std::wstring& text);
  void choose_language();
  std::uint32_t prepare_and_launch(const std::wstring& migrated);
  void create_temp_folder(session& s);
  void show_splash(session& s, const std::wstring& title);
  void report_progress(session& s, std::uint8_t percent);
  void announce_start(session& s);
  command_line compose_setup_command_line(const session& s, const std::wstring& migrated);
  std::uint32_t launch(session& s, const command_line& setup);
  void finish(std::uint32_t exit_code);
  std::wstring translate(const session& s, const std::wstring& identifier, const std::vector<std::wstring>& arguments) const;

  shared_context context_;
};


}  // namespace vyn::sfx

#pragma once
// Stand-ins for the components a run drives, for the tests of the run and of the entry sequence.

#include <gmock/gmock.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/sfx_process.h"
#include "foundation/exceptions.h"
#include "foundation/logger.h"
#include "foundation/strings.h"

namespace vyn::sfx::testing {

class mock_verifier : public verify_signature_intf {
 public:
  MOCK_METHOD(bool, verify_handle, (void*), (override));
  MOCK_METHOD(bool, verify_block, (const std::uint8_t*, std::size_t), (override));
  MOCK_METHOD(bool, verify_file, (const std::wstring&), (override));
  MOCK_METHOD(bool, verify_handle_ext, (void*), (override));
  MOCK_METHOD(bool, verify_file_ext, (const std::wstring&), (override));
  MOCK_METHOD(bool, verify_file_by_hash_file, (const std::wstring&, const std::string&), (override));
  MOCK_METHOD(bool, verify_file_by_hash, (const std::wstring&, const std::string&), (override));
};

class mock_prepare : public prepare_setup_intf {
 public:
  MOCK_METHOD(void, prepare, (std::wstring&, show_splash_callback, report_progress_callback), (override));
};

class mock_launcher : public secure_process_launcher_intf {
 public:
  MOCK_METHOD(std::uint32_t, run, (const std::wstring&, const std::wstring&, std::uint32_t), (override));
  MOCK_METHOD(void, wait_for_bug_report, (const std::wstring&), (override));
};

class mock_splash : public features::splash::gif_wnd_intf {
 public:
  MOCK_METHOD(bool, start, (bool), (override));
  MOCK_METHOD(void, close, (), (override));
  MOCK_METHOD(void, show, (), (override));
  MOCK_METHOD(void, hide, (), (override));
  MOCK_METHOD(void, set_text, (const std::wstring&), (override));
  MOCK_METHOD(void, set_progress, (int), (override));
  MOCK_METHOD(HRESULT, mark_taskbar_button, (), (override));
};

class fake_splash_data : public features::splash::gif_wnd_data_intf {
 public:
  std::vector<std::uint8_t> gif_bytes() const override { return {}; }
  HICON icon() const override { return nullptr; }
  std::wstring window_title() const override { return {}; }
  std::wstring product_title() const override { return {}; }
  int text_top() const override { return 100; }
  std::uint32_t text_colour() const override { return colour; }
  void set_text_colour(std::uint32_t value) override { colour = value; }

  std::uint32_t colour = 0;
};

// Records every call as one line, so a test can check what was reported and in which order.
class recording_reporting : public sfx_reporting_intf {
 public:
  void send(const std::string& stage) override { add("send", stage); }
  void set_disk_path(const std::wstring& path) override { add("set_disk_path", utils::to_log(path)); }
  void set_edition_flag(bool edition) override { add("set_edition_flag", edition ? "1" : "0"); }
  void set_aiid(const std::wstring& aiid) override { add("set_aiid", utils::to_log(aiid)); }
  void set_session_id(const std::wstring& id) override { add("set_session_id", utils::to_log(id)); }
  void set_title(const std::wstring& title) override { add("set_title", utils::to_log(title)); }
  void set_reboot(bool reboot) override { add("set_reboot", reboot ? "1" : "0"); }
  void set_ret_code(std::int32_t code) override { add("set_ret_code", std::to_string(code)); }
  void add_main_product(const std::wstring& product, const std::wstring& channel, bool reset) override {
    add("add_main_product", utils::to_log(product) + "|" + utils::to_log(channel) + (reset ? "|reset" : ""));
  }
  void set_report_url(const std::wstring& url) override { add("set_report_url", utils::to_log(url)); }
  void set_operation(const std::string& operation) override { add("set_operation", operation); }
  void set_trigger(const std::wstring& trigger) override { add("set_trigger", utils::to_log(trigger)); }
  void set_cmdline(const std::wstring& text) override { add("set_cmdline", utils::to_log(text)); }
  void set_crash_msg(const std::string& message) override { add("set_crash_msg", message); }

  // The recorded lines of one kind, e.g. every stage sent.
  std::vector<std::string> of(const std::string& kind) const {
    std::vector<std::string> values;
    for (const auto& e : events) {
      if (e.starts_with(kind + ":")) values.push_back(e.substr(kind.size() + 1));
    }
    return values;
  }

  std::vector<std::string> events;

 private:
  void add(const char* kind, const std::string& value) { events.push_back(std::string(kind) + ":" + value); }
};

class recording_info : public kestro_info_intf {
 public:
  void append_copy(const pugi::xml_node& node) override {
    appended.emplace_back(node.name(), node.text().get());
  }
  void append_move(const pugi::xml_node& node) override { append_copy(node); }
  bool save(const std::wstring& path) override {
    saved.push_back(path);
    return true;
  }

  std::vector<std::pair<std::wstring, std::wstring>> appended;
  std::vector<std::wstring> saved;
};

class fake_temp_dir : public temp_dir_intf {
 public:
  fake_temp_dir(std::wstring path, bool* destroyed) : path_(std::move(path)), destroyed_(destroyed) {}
  ~fake_temp_dir() override {
    if (destroyed_) *destroyed_ = true;
  }
  std::wstring get_path() const override { return path_; }

 private:
  std::wstring path_;
  bool* destroyed_;
};

class fake_proxy : public sfx_proxy_parser_intf {
 public:
  explicit fake_proxy(bool configured) : configured_(configured) { held_.type = configured ? 2 : 0; }
  bool is_configured() const override { return configured_; }
  const http::ProxySettings& settings() const override { return held_; }
  std::optional<http::ProxySettings> settings_copy() const override { return held_; }

 private:
  bool configured_;
  http::ProxySettings held_;
};

// Translates by writing the language and arguments around the identifier.
class fake_translator : public sfx_translator_intf {
 public:
  explicit fake_translator(std::int32_t language) : language_(language) {}
  std::wstring format(const std::wstring& identifier, const std::vector<std::wstring>& arguments) override {
    std::wstring text = translate(identifier);
    for (const auto& a : arguments) text += L"|" + a;
    return text;
  }
  std::wstring translate(const std::wstring& identifier) override {
    return std::to_wstring(language_) + L":" + identifier;
  }

 private:
  std::int32_t language_;
};

// While it lives, every write to the process's log file fails as on a full disk.
class scoped_full_log_disk {
 public:
  scoped_full_log_disk() {
    if (auto* module = log::detail::LogModule::instance()) {
      core_ = &module->core();
      core_->use_file_sink(std::make_shared<full_disk>());
    }
  }
  ~scoped_full_log_disk() {
    if (core_) core_->use_file_sink(nullptr);
  }
  scoped_full_log_disk(const scoped_full_log_disk&) = delete;
  scoped_full_log_disk& operator=(const scoped_full_log_disk&) = delete;

 private:
  class full_disk final : public log::detail::file_sink_intf {
   public:
    void write(std::string_view, bool) override {
      throw vyn::exceptions::error(ERROR_DISK_FULL, "Failed to write log file 'C:\\full\\sfx.log'");
    }
    const std::wstring& path() const noexcept override { return path_; }

   private:
    std::wstring path_ = L"C:\\full\\sfx.log";
  };

  log::detail::logger_core* core_ = nullptr;
};

// A run whose components are the fakes above, handed out by its factories.
class test_process : public sfx_process {
 public:
  using sfx_process::sfx_process;

  std::shared_ptr<verify_signature_intf> create_verify_signature() override { return verifier; }
  std::unique_ptr<temp_dir_intf> create_temp_dir(std::wstring_view base, bool delete_on_destroy) override {
    temp_base = std::wstring(base);
    temp_deleted_on_destroy = delete_on_destroy;
    return std::make_unique<fake_temp_dir>(temp_path, &temp_destroyed);
  }
  std::unique_ptr<payload_intf> create_payload(std::shared_ptr<win::unique_handle> stub_file,
                                               shared_context& context) override {
    payload_created = true;
    if (real_payload) return sfx_process::create_payload(std::move(stub_file), context);
    return {};
  }
  std::shared_ptr<features::splash::gif_wnd_intf> create_gif_wnd(
      std::shared_ptr<features::splash::gif_wnd_data_intf>) override {
    return splash;
  }
  std::shared_ptr<features::splash::gif_wnd_data_intf> create_res_gif_wnd_data(
      HINSTANCE, int gif_id, const wchar_t* gif_type, int icon_id, const std::wstring& window_title,
      const std::wstring& product_title) override {
    splash_request = {gif_id, gif_type, icon_id, window_title, product_title};
    return splash_data;
  }
  std::unique_ptr<prepare_setup_intf> create_prepare_setup(shared_context&) override {
    return std::move(preparation);
  }
  std::shared_ptr<secure_process_launcher_intf> create_secure_process_launcher() override {
    ++launchers_created;
    return launcher;
  }
  std::shared_ptr<kestro_info_intf> create_kestro_info() override { return info; }

  struct splash_arguments {
    int gif_id = 0;
    std::wstring gif_type;
    int icon_id = 0;
    std::wstring window_title;
    std::wstring product_title;
  };

  std::shared_ptr<verify_signature_intf> verifier;
  std::wstring temp_path = L"C:\\temp\\vyn-1";
  std::wstring temp_base;
  bool temp_deleted_on_destroy = false;
  bool temp_destroyed = false;
  bool payload_created = false;
  bool real_payload = false;  // the payload is the stub file's own, read as the stub reads it
  std::unique_ptr<prepare_setup_intf> preparation;
  std::shared_ptr<secure_process_launcher_intf> launcher;
  int launchers_created = 0;
  std::shared_ptr<kestro_info_intf> info;
  std::shared_ptr<features::splash::gif_wnd_data_intf> splash_data;
  std::shared_ptr<features::splash::gif_wnd_intf> splash;
  std::optional<splash_arguments> splash_request;
  bool with_translator = false;
  std::vector<std::wstring> proxy_ini_paths;
  bool writes_proxy_ini = false;  // the real file, not only its path

 protected:
  std::shared_ptr<sfx_translator_intf> create_translator(std::int32_t language) override {
    if (!with_translator) return {};
    return std::make_shared<fake_translator>(language);
  }
  void write_proxy_ini(const http::ProxySettings& settings, const std::wstring& path) override {
    proxy_ini_paths.push_back(path);
    if (writes_proxy_ini) sfx_process::write_proxy_ini(settings, path);
  }
};

}  // namespace vyn::sfx::testing

#include "net/report_record.h"

#include <cctype>

#include "app/language_table.h"
#include "foundation/strings.h"

namespace vyn::sfx::report {
namespace {

std::string escaped(std::wstring_view text) { return json_escape(utils::to_narrow(text)); }

// Appends "name":"value", the value escaped.
void text_member(std::string& out, std::string_view name, std::string_view value) {
  out += '"';
  out += name;
  out += "\":\"";
  out += json_escape(value);
  out += '"';
}

void text_member(std::string& out, std::string_view name, std::wstring_view value) {
  text_member(out, name, std::string_view(utils::to_narrow(value)));
}

void number_member(std::string& out, std::string_view name, std::int64_t value) {
  out += '"';
  out += name;
  out += "\":";
  out += std::to_string(value);
}

void event_part(std::string& out, const report_facts& facts) {
  out += "\"event\":{\"type\":25,\"subtype\":1,";
  text_member(out, "request_id", facts.request_id);
  out += ',';
  number_member(out, "time", facts.event_time);
  out += "},";
}

void setup_part(std::string& out, const report_values& values, const report_facts& facts, std::string_view stage) {
  out += "\"setup\":{\"common\":{";
  text_member(out, "operation", values.operation);
  out += ',';
  text_member(out, "session_id", values.session_id);
  out += ',';
  text_member(out, "stage", stage);
  out += ',';
  text_member(out, "title", values.title);
  out += "},";
  if (!values.ret_code.empty()) {
    out += "\"finish_state\":{";
    text_member(out, "reboot", values.reboot);
    out += ',';
    text_member(out, "ret_code", values.ret_code);
    out += ',';
    text_member(out, "crash_msg", values.crash_msg);
    out += "},";
  }
  out += "\"product\":{\"name\":\"sfx\"},";
  out += "\"config\":{\"main_products\":[" + values.main_products + "],";
  text_member(out, "sfx_ver", facts.sfx_version);
  out += ',';
  text_member(out, "trigger", values.trigger);
  out += ',';
  text_member(out, "cmdline", values.cmdline);
  out += "},";
  out += "\"system\":{";
  number_member(out, "memory", facts.memory_mib);
  out += ',';
  number_member(out, "processors", facts.processors);
  out += ",\"workstation\":";
  out += facts.workstation ? "true" : "false";
  if (!values.disk_path.empty()) {
    out += ",\"hdd\":{";
    number_member(out, "available", facts.hdd_available_mib);
    out += '}';
  }
  out += "}},";
}

// The identity texts are our own hexadecimal digits and a GUID, but the endpoint identifier may
// come from another product's LC.INI: escaping keeps a stray quote there from breaking the record
// and leaves every well-formed value as it is.
void identity_part(std::string& out, const report_facts& facts) {
  out += "\"identity\":{";
  text_member(out, "hwid", facts.hwid);
  out += ',';
  text_member(out, "fingerprint", facts.fingerprint);
  out += ',';
  text_member(out, "endpoint_id", facts.endpoint_id);
  out += "},";
}

void installation_part(std::string& out, const report_values& values, const report_facts& facts) {
  out += "\"installation\":{\"action\":\"INSTALL\",";
  text_member(out, "aiid", values.aiid);
  out += ',';
  number_member(out, "time", facts.installation_time);
  out += "},";
}

void platform_part(std::string& out, const report_facts& facts) {
  out += "\"platform\":{";
  text_member(out, "architecture", facts.architecture);
  out += ",\"os\":\"WINDOWS\",";
  text_member(out, "version", std::to_string(facts.major) + "." + std::to_string(facts.minor));
  out += ',';
  text_member(out, "build", std::to_string(facts.build));
  out += ',';
  text_member(out, "lang", facts.lang);
  out += ',';
  number_member(out, "time_zone", facts.time_zone);
  out += "},";
}

void product_part(std::string& out, const report_values& values, const report_facts& facts) {
  out += "\"product\":{";
  number_member(out, "edition", values.edition ? 2 : 1);
  out += ",\"id\":9999,";
  text_member(out, "version_app", facts.sfx_version);
  out += '}';
}

}  // namespace

std::string json_escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '\b': out += "\\b"; break;
      case '\t': out += "\\t"; break;
      case '\f': out += "\\f"; break;
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += '|'; break;
      case '\r': break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          constexpr char digits[] = "0123456789abcdef";
          out += "\\u00";
          out += digits[(c >> 4) & 0xF];
          out += digits[c & 0xF];
        } else {
          out += c;
        }
    }
  }
  return out;
}

std::string build_record(const report_values& values, const report_facts& facts, std::string_view stage) {
  std::string out = "{\"record\":[{";
  event_part(out, facts);
  setup_part(out, values, facts, stage);
  identity_part(out, facts);
  installation_part(out, values, facts);
  platform_part(out, facts);
  product_part(out, values, facts);
  out += "}]}";
  return out;
}

void add_main_product(std::string& list, std::wstring_view product, std::wstring_view channel, bool reset) {
  if (reset) list.clear();
  if (!list.empty()) list += ',';
  list += "{\"product\":\"" + escaped(product) + "\",\"channel\":\"" + escaped(channel) + "\"}";
}

std::wstring volume_root(std::wstring_view path) {
  std::size_t end = path.find_first_of(L"\\/");
  if (end == std::wstring_view::npos) end = path.find(L':');
  std::wstring root(path.substr(0, end == std::wstring_view::npos ? path.size() : end + 1));
  if (root.empty() || (root.back() != L'\\' && root.back() != L'/')) root += L'\\';
  return root;
}

std::string language_tag(std::int32_t ui_language) {
  const language* row = find_language(ui_language);
  std::string tag = row ? row->narrow_tag : "en-us";
  const std::size_t dash = tag.find('-');
  if (dash != std::string::npos) {
    for (std::size_t i = dash + 1; i < tag.size(); ++i) {
      tag[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(tag[i])));
    }
  }
  return tag;
}

}  // namespace vyn::sfx::report

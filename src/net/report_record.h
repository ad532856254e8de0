#pragma once
// The analytics record: one line of JSON per stage of a run, made of the values the run set
// (report_values), what was read from the machine when the record was built (report_facts) and
// the stage name. Every text that the run or the machine supplies goes through json_escape.
//
//   {"record":[{"event":{"type":25,"subtype":1,"request_id":"...","time":1700000000000},
//    "setup":{"common":{"operation":"install","session_id":"...","stage":"sfx-start","title":"..."},
//             ["finish_state":{"reboot":"0","ret_code":"0","crash_msg":""},]
//             "product":{"name":"sfx"},
//             "config":{"main_products":[{"product":"p","channel":"c"}],"sfx_ver":"1.0.0.1",
//                       "trigger":"...","cmdline":"..."},
//             "system":{"memory":8192,"processors":4,"workstation":true[,"hdd":{"available":1024}]}},
//    "identity":{"hwid":"...","fingerprint":"...","endpoint_id":"..."},
//    "installation":{"action":"INSTALL","aiid":"","time":1700000000000},
//    "platform":{"architecture":"X64","os":"WINDOWS","version":"10.0","build":"19045",
//                "lang":"en-US","time_zone":-60},
//    "product":{"edition":1,"id":9999,"version_app":"1.0.0.1"}}]}
//
// (shown broken into lines; the record has no blanks or line breaks). "finish_state" is present
// once the run's return code is set, "hdd" when a disk path is. Portable: no <windows.h>.

#include <cstdint>
#include <string>
#include <string_view>

namespace vyn::sfx::report {

// Backspace, tab, form feed, quote and backslash as two-character escapes; a line feed becomes
// "|" and a carriage return is dropped; any other byte below 0x20 becomes \u00xx (lower case);
// every other byte, those of multi-byte UTF-8 sequences included, is copied.
std::string json_escape(std::string_view text);

// What the run sets through the reporter's operations; each record freezes the current values.
struct report_values {
  std::wstring disk_path;             // the volume of its first folder is reported as "hdd"
  bool edition = false;               // "edition" 2 when set, 1 when not
  std::wstring aiid;
  std::wstring session_id;
  std::wstring title;
  std::string reboot = "0";           // "1" or "0"
  std::string ret_code;               // decimal; empty until the run's exit code is known
  std::string main_products;          // JSON objects joined by ",", see add_main_product
  std::string operation = "install";
  std::wstring trigger;
  std::wstring cmdline;
  std::string crash_msg;
};

// What the machine and the clock said when the record was built.
struct report_facts {
  std::string request_id;             // a random version-4 GUID
  std::int64_t event_time = 0;        // UTC, milliseconds since 1970-01-01
  std::int64_t installation_time = 0; // the same clock, read again
  std::string sfx_version;            // the running executable's file version, "a.b.c.d"
  std::int64_t memory_mib = 0;        // total physical memory; 0 when unknown
  std::uint32_t processors = 0;       // logical processors
  bool workstation = false;
  std::int64_t hdd_available_mib = 0; // free space for the caller on the disk path's volume
  std::wstring hwid;
  std::wstring fingerprint;           // empty when it could not be obtained
  std::wstring endpoint_id;           // empty when it could not be obtained
  std::string architecture;           // "X86", "X64", "IA64", "ARM", "ARM64"
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t build = 0;
  std::string lang;                   // "en-US"
  std::int32_t time_zone = 0;         // bias in minutes: UTC = local time + bias
};

// The record of the stage. Raises the conversion error of a wide value that is not valid UTF-16.
std::string build_record(const report_values& values, const report_facts& facts, std::string_view stage);

// Appends {"product":"...","channel":"..."} to the list, after a "," when the list is not empty;
// reset empties the list first. Both texts are escaped, so that a quote in a channel given on
// the command line cannot end the record's JSON early.
void add_main_product(std::string& list, std::wstring_view product, std::wstring_view channel, bool reset);

// The root of the volume that holds the path: its beginning up to and including the first "\" or
// "/", or else up to its first ":", with a "\" added when it does not end in one.
std::wstring volume_root(std::wstring_view path);

// The tag of the language table's row for the user interface language, "en-us" for a language the
// table does not hold, with the part after the first "-" in upper case ("de-DE").
std::string language_tag(std::int32_t ui_language);

}  // namespace vyn::sfx::report

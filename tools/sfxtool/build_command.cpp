// build: a linked stub and the files of its payload become a signed stub.

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <set>

#include "arguments.h"
#include "command.h"
#include "file_io.h"
#include "foundation/sha256.h"
#include "payload/lzma_codec.h"
#include "payload/payload_format.h"
#include "payload/payload_writer.h"
#include "payload/signature_check.h"
#include "payload_entries.h"
#include "signing_key.h"
#include "stub_input.h"

namespace vyn::tool {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t max_stub_size = 0xFFFFFFFFu;  // the stub maps itself and keeps 32-bit offsets
constexpr std::string_view config_alias = "sfx-info.xml";
constexpr unsigned stub_key_set = 7;

struct build_settings {
  std::optional<std::uint64_t> timestamp;  // all records; otherwise each file's modification time
  bool allow_duplicates = false;
};

std::uint64_t modification_time(const fs::path& path) {
  std::error_code ec;
  const auto written = fs::last_write_time(path, ec);
  if (ec) throw tool_error(exit_io, "cannot read the time of '" + path.string() + "': " + ec.message());
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
      std::chrono::file_clock::to_sys(written).time_since_epoch()).count();
  return seconds > 0 ? static_cast<std::uint64_t>(seconds) : 0;
}

std::vector<std::uint8_t> read_content(const fs::path& path) {
  std::error_code ec;
  const auto size = fs::file_size(path, ec);
  if (!ec && size > 0xFFFFFFFFu) {
    throw tool_error(exit_refused, path.string() + ": a record holds at most 4 GiB - 1 bytes");
  }
  return read_file(path);
}

// Last writer wins in the stub's index, so a repeated alias (or the same content twice without
// one) would silently hide a record: refused unless asked for.
void check_duplicates(const std::vector<payload_entry>& entries, bool allowed) {
  std::set<std::string> aliases;
  for (const auto& e : entries) {
    if (!e.alias.empty() && !aliases.insert(e.alias).second && !allowed) {
      throw tool_error(exit_usage, "the alias '" + e.alias + "' is given twice (the stub would keep only the "
                                   "last record; --allow-duplicates builds it anyway)");
    }
  }
}

class payload_builder {
 public:
  // The total counts from the start what every stub ends with: the end record and the signature.
  payload_builder(const build_settings& settings, std::uint64_t image_size)
      : settings_(settings), total_(image_size + sfx::record_header_size + sfx::signature::binary_block_size) {}

  void add(const payload_entry& entry);
  std::vector<std::uint8_t> finish();
  const std::vector<std::string>& lines() const noexcept { return lines_; }

 private:
  const build_settings& settings_;
  std::uint64_t total_;
  std::vector<std::uint8_t> payload_;
  std::set<std::string> hashed_;
  std::vector<std::string> lines_;
};

void payload_builder::add(const payload_entry& entry) {
  const auto content = read_content(entry.source);
  root::sha256 hash;
  const root::digest sum = root::digest_of(hash, content);
  if (entry.alias.empty() && !hashed_.insert(sum.hex()).second && !settings_.allow_duplicates) {
    throw tool_error(exit_usage, entry.source.string() + ": the same content is already in the payload by its "
                                 "hash (--allow-duplicates builds it anyway)");
  }
  sfx::record_fields fields;
  fields.type = entry.alias == config_alias ? sfx::record_type_config : sfx::record_type_data;
  fields.flags = entry.packed ? 1 : 0;
  fields.timestamp = settings_.timestamp ? *settings_.timestamp : modification_time(entry.source);
  std::copy(sum.bytes().begin(), sum.bytes().end(), fields.sha256.begin());
  fields.alias = entry.alias;
  const auto packed = entry.packed ? packers::lzma_compress(content) : std::vector<std::uint8_t>{};
  const std::span<const std::uint8_t> data = entry.packed ? std::span(packed) : std::span(content);
  total_ += sfx::record_header_size + entry.alias.size() + data.size();
  if (total_ > max_stub_size) {
    throw tool_error(exit_refused, entry.source.string() + ": the stub would grow to 4 GiB or more");
  }
  sfx::append_record(payload_, fields, data);
  lines_.push_back("  '" + std::string(1, static_cast<char>(fields.type)) + "' " +
                   (entry.packed ? "lzma   " : "stored ") + std::to_string(content.size()) + " -> " +
                   std::to_string(data.size()) + " bytes  " +
                   (entry.alias.empty() ? "by hash " + sum.hex() : "'" + entry.alias + "'") + "  (" +
                   entry.source.string() + ")");
}

std::vector<std::uint8_t> payload_builder::finish() {
  sfx::append_end_record(payload_);
  return std::move(payload_);
}

bool signed_by(const std::vector<std::uint8_t>& data, const key_folder& keys) {
  folder_key_set set;
  load_set(keys, stub_key_set, set);
  try {
    return sfx::signature::check(data, set.set).valid();
  } catch (const std::exception&) {  // a text block with a character that is not hexadecimal
    return false;
  }
}

// The stub refuses to run without a signed sfx-info.xml; a stub built without one is only useful
// as a test of that refusal, so it is built with a warning. The stub that this build signs trusts
// the key folder's set 7 (it was built from that folder), so sfx-info.xml is checked against it.
void warn_about_config(const std::vector<payload_entry>& entries, const key_folder& keys) {
  const payload_entry* config = nullptr;
  for (const auto& e : entries) {
    if (e.alias == config_alias) config = &e;
  }
  if (!config) {
    std::fprintf(stderr, "warning: no record has the alias sfx-info.xml; the stub will refuse to run\n");
  } else if (!signed_by(read_file(config->source), keys)) {
    std::fprintf(stderr,
                 "warning: %s carries no signature that key set 7 of %s accepts; the stub will refuse it "
                 "(sign it with 'sfxtool sign --form xml')\n",
                 config->source.c_str(), keys.path().c_str());
  }
}

// The stub checks itself with key set 7 only: signed with any other set it would refuse to run.
void check_key_set(const arguments& args) {
  const auto set = args.number("set", stub_key_set, 0, 255);
  if (set != stub_key_set) {
    throw tool_error(exit_usage, "build signs with key set 7, the only set the stub checks itself with; a stub "
                                 "signed with key set " + std::to_string(set) + " would refuse to run");
  }
}

build_settings settings_from(const arguments& args) {
  build_settings settings;
  if (const auto text = args.value("timestamp")) {
    settings.timestamp = parse_number(*text);
    if (!settings.timestamp) throw tool_error(exit_usage, "--timestamp needs a number of seconds, not '" + *text + "'");
  }
  settings.allow_duplicates = args.flag("allow-duplicates");
  return settings;
}

int run(const std::vector<std::string>& raw) {
  const arguments args(raw, {{"keys", true}, {"set", true}, {"key", true}, {"version", true},
                             {"file", true, true}, {"hashed", true, true}, {"dir", true, true},
                             {"list", true, true}, {"lzma", false, true}, {"stored", false, true},
                             {"timestamp", true}, {"allow-duplicates", false}, {"reserve-cert-table", true},
                             {"quiet", false}});
  if (args.positional().size() != 2) throw tool_error(exit_usage, "build needs STUB and OUTPUT");
  if (!args.value("keys") || !args.value("key")) throw tool_error(exit_usage, "build needs --keys and --key");
  const std::string& stub_path = args.positional()[0];
  const std::string& output_path = args.positional()[1];
  sfx::signature::sign_options options;
  options.version = static_cast<int>(args.number("version", 3, 2, 3));
  if (args.value("reserve-cert-table")) {
    options.reserve_cert_table = args.number("reserve-cert-table", 0, 8, 0x10000000);
  }
  check_key_set(args);
  const auto settings = settings_from(args);
  const auto entries = collect_entries(args.in_order());
  check_duplicates(entries, settings.allow_duplicates);

  const signing_key key(args);
  key.warn_if_development();
  auto stub = prepare_stub(read_file(stub_path), stub_path);
  payload_builder builder(settings, stub.image.size() + sfx::signature::binary_block_size);
  for (const auto& entry : entries) builder.add(entry);
  const auto payload = builder.finish();
  warn_about_config(entries, key.folder());
  stub.image.insert(stub.image.end(), payload.begin(), payload.end());
  const auto out = key.sign(stub.image, options, stub_path);
  write_file(output_path, out.data);
  std::error_code ignored;
  fs::permissions(output_path, fs::status(stub_path).permissions(), ignored);

  if (args.flag("quiet")) return exit_ok;
  std::printf("built %s -> %s: %s, %zu records, %zu payload bytes, %s, version %d\n", stub_path.c_str(),
              output_path.c_str(), stub.pe64 ? "PE32+" : "PE32", entries.size(), payload.size(),
              key.describe().c_str(), options.version);
  if (stub.dropped_symbols) {
    std::printf("  (dropped the %llu-byte COFF symbol table behind the sections)\n",
                static_cast<unsigned long long>(stub.dropped_symbols));
  }
  for (const auto& line : builder.lines()) std::printf("%s\n", line.c_str());
  return exit_ok;
}

}  // namespace

const command build_command{
    "build", "append a payload to a linked stub and sign it",
    "usage: sfxtool build --keys FOLDER --key KEY [options] [entries] STUB OUTPUT\n"
    "\n"
    "Appends the payload records named by the entries, in the order given, and the end record to\n"
    "the linked stub image STUB (32-bit PE, or the 64-bit test build), signs the result with a\n"
    "binary block and writes it to OUTPUT (replaced only when complete).\n"
    "\n"
    "Entries:\n"
    "  --file PATH[:ALIAS] a record found by ALIAS (default: the file name of PATH; the first ':'\n"
    "                      ends PATH). The alias sfx-info.xml makes a record of type 'F', every\n"
    "                      other one of type 'C'\n"
    "  --hashed PATH       a record with an empty alias, found only by its SHA-256\n"
    "  --dir DIR           every regular file below DIR, aliased by its path relative to DIR with\n"
    "                      '/' between folders, in alias order\n"
    "  --list FILE         entries from FILE, one per line as above without \"--\" (\"file a.txt:x\",\n"
    "                      \"hashed setup.bin\", \"dir data\", \"lzma\", \"stored\"); '#' starts a comment\n"
    "                      line; relative paths are taken from FILE's folder\n"
    "  --lzma, --stored    entries named after this switch are LZMA-packed / stored (default stored)\n"
    "\n"
    "Options:\n"
    "  --keys FOLDER       key folder made by 'sfxtool keygen'\n"
    "  --set N             key set of the key: 7, the set the stub checks itself with (any other\n"
    "                      set is refused)\n"
    "  --key KEY           dsa:I, ecdsa:I or a key name, as for 'sfxtool sign'\n"
    "  --version V         digest version 2 or 3 (default 3; 3 lets an Authenticode signature be\n"
    "                      added to OUTPUT afterwards)\n"
    "  --reserve-cert-table SIZE\n"
    "                      for version 2: point the certificate table entry at the 8-byte aligned\n"
    "                      end of OUTPUT with SIZE bytes before signing, so that an Authenticode\n"
    "                      table of exactly SIZE bytes appended later leaves the signature valid\n"
    "  --timestamp SECONDS record time of every record (default: each file's modification time)\n"
    "  --allow-duplicates  build even when an alias (or the content of a hashed record) repeats;\n"
    "                      the stub then keeps the last record of that alias or hash\n"
    "  --quiet             print warnings and errors only\n"
    "\n"
    "Aliases must be valid UTF-8 without control characters, at most 65535 bytes; a record holds at\n"
    "most 4 GiB - 1 bytes and the stub stays below 4 GiB. STUB must be the image as linked: one\n"
    "that is signed or carries data behind its sections (a payload, an Authenticode table) is\n"
    "refused (exit 5); an unstripped image's COFF symbol table is dropped. A warning says when\n"
    "no record is a sfx-info.xml that key set 7 of the key folder accepts (the stub would refuse to\n"
    "run), and when the key is a development key of keys/dev (never ship such a stub).\n",
    run};

}  // namespace vyn::tool

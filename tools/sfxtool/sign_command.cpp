// sign: appends a signature block to a file (PE image, XML or any data).

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "arguments.h"
#include "command.h"
#include "file_io.h"
#include "payload/signature_writer.h"
#include "signing_key.h"

namespace vyn::tool {
namespace {

using sfx::signature::block_form;
using sfx::signature::line_ending;

// Every option is checked here, before any file is touched. The line break after an XML block
// follows the input when not given (see apply_line_ending).
sfx::signature::sign_options options_from(const arguments& args) {
  sfx::signature::sign_options options;
  const std::string form = args.choice("form", "binary", {"binary", "text", "xml"});
  options.form = form == "binary" ? block_form::binary : block_form::text;
  options.xml_comment = form == "xml";
  options.version = static_cast<int>(args.number("version", 3, 2, 3));
  if (args.value("eol") && form != "xml") throw tool_error(exit_usage, "--eol applies to --form xml only");
  const std::string eol = args.choice("eol", "lf", {"lf", "crlf", "none"});
  options.line_end = eol == "lf" ? line_ending::lf : eol == "crlf" ? line_ending::crlf : line_ending::none;
  if (args.value("reserve-cert-table")) {
    options.reserve_cert_table = args.number("reserve-cert-table", 0, 8, 0x10000000);
  }
  options.strip_cert_table = args.flag("strip-authenticode");
  return options;
}

void apply_line_ending(const arguments& args, const std::vector<std::uint8_t>& input,
                       sfx::signature::sign_options& options) {
  if (args.value("eol")) return;
  if (uses_crlf(input)) options.line_end = line_ending::crlf;
}

int run(const std::vector<std::string>& raw) {
  const arguments args(raw, {{"keys", true}, {"set", true}, {"key", true}, {"form", true}, {"version", true},
                             {"eol", true}, {"reserve-cert-table", true}, {"strip-authenticode", false},
                             {"quiet", false}});
  if (args.positional().size() != 2) throw tool_error(exit_usage, "sign needs INPUT and OUTPUT");
  if (!args.value("keys") || !args.value("key")) throw tool_error(exit_usage, "sign needs --keys and --key");
  auto options = options_from(args);
  const std::string& input_path = args.positional()[0];
  const std::string& output_path = args.positional()[1];

  const signing_key key(args);
  key.warn_if_development();
  const auto input = read_file(input_path);
  apply_line_ending(args, input, options);
  const auto out = key.sign(input, options, input_path);
  write_file(output_path, out.data);
  // A signed program stays a program.
  std::error_code ignored;
  std::filesystem::permissions(output_path, std::filesystem::status(input_path).permissions(), ignored);
  if (args.flag("quiet")) return exit_ok;
  std::printf("signed %s -> %s: %s, version %d, %s block, %zu signed bytes%s\n", input_path.c_str(),
              output_path.c_str(), key.describe().c_str(), options.version,
              options.form == block_form::binary ? "binary" : (options.xml_comment ? "XML comment" : "text"),
              out.signed_length, out.pe ? ", PE image" : "");
  return exit_ok;
}

}  // namespace

const command sign_command{
    "sign", "append a signature block to a file",
    "usage: sfxtool sign --keys FOLDER --key KEY [options] INPUT OUTPUT\n"
    "\n"
    "Signs INPUT with one key of a key folder and writes INPUT followed by the signature block to\n"
    "OUTPUT (which may be INPUT; it is replaced only when complete).\n"
    "\n"
    "  --keys FOLDER      key folder made by 'sfxtool keygen'\n"
    "  --set N            key set of the key (default 7)\n"
    "  --key KEY          dsa:I or ecdsa:I (the I-th key of that kind in the set, from 0) or a key name\n"
    "  --form F           binary (default; 64 bytes and \"VYNSig<v>B\"), text (\"VYNSig<v>A\", 128\n"
    "                     hexadecimal digits, \"VYNSig<v>A\") or xml (the text block as the file's\n"
    "                     last comment: \"<!-- \" block \" -->\" and a line break)\n"
    "  --version V        digest version 2 or 3 (default 3). Version 3 also hashes the signed length and,\n"
    "                     in a PE image, leaves out the CheckSum and the certificate table entry, so an\n"
    "                     Authenticode signature can be added afterwards without further ado\n"
    "  --eol E            line break after an xml block: lf, crlf or none (default: crlf when INPUT\n"
    "                     contains CR LF, else lf)\n"
    "  --reserve-cert-table SIZE\n"
    "                     PE images, for version 2: point the certificate table entry at the 8-byte\n"
    "                     aligned end of OUTPUT with SIZE bytes before hashing, so that an Authenticode\n"
    "                     table of exactly SIZE bytes appended later leaves the signature valid\n"
    "  --strip-authenticode\n"
    "                     PE images that already carry a certificate table: drop it and clear its entry\n"
    "                     (sign with Authenticode again afterwards). Without it such images are refused:\n"
    "                     an Authenticode signature covers every byte in front of its table, so our\n"
    "                     block can go neither in front of the table nor behind it.\n"
    "  --quiet            print errors only\n"
    "\n"
    "Every signature is checked with the stub's own verifier before OUTPUT is written. Data that\n"
    "already ends in a signature block is refused.\n",
    run};

}  // namespace vyn::tool

// publish: a product folder becomes the repository objects the stub downloads.
//
//   defs/<product>/<channel>.xml.lzma   the description, signed in its own XML comment, packed,
//                                       and the packed stream signed again (binary block): the
//                                       stub checks the download, unpacks it, checks the document
//   defs/<product>/<channel>.xml        the signed description unpacked, to be carried in a stub's
//                                       payload under the alias "<product>/<channel>.xml"
//   universe/<h0-3>/<h4-7>/<h8-11>/<h>.lzma
//                                       each setup file, packed and signed (binary block), under
//                                       the SHA-256 text exactly as the description writes it

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>

#include "arguments.h"
#include "command.h"
#include "file_io.h"
#include "foundation/sha256.h"
#include "payload/lzma_codec.h"
#include "product_description.h"
#include "signing_key.h"

namespace vyn::tool {
namespace {

namespace fs = std::filesystem;
namespace sig = sfx::signature;

struct publish_settings {
  fs::path product_dir;
  fs::path repository;
  fs::path description;
  std::string product;
  std::string channel;
  bool fill = false;
  bool allow_mismatch = false;
  int version = 3;
  std::map<std::string, fs::path> setup_files;  // by file name, instead of the product folder's
};

// A setup file to publish: where its content comes from and the hash text that names it.
struct repository_object {
  std::string hash;
  fs::path source;
};

bool is_hex_digest(const std::string& text) {
  const auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
  return text.size() == 64 && std::all_of(text.begin(), text.end(), hex);
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The product name and the channel become URL path segments: a conservative character set, '/'
// between segments (pinned channels such as "23/4/15592/15612/release" have several).
void check_url_segments(const std::string& text, const std::string& what) {
  const auto allowed = [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || std::string_view("._-+~/").find(c) != std::string_view::npos;
  };
  bool ok = !text.empty() && std::all_of(text.begin(), text.end(), allowed);
  for (std::size_t start = 0; ok && start <= text.size();) {
    const auto end = std::min(text.find('/', start), text.size());
    const std::string segment = text.substr(start, end - start);
    ok = !segment.empty() && segment != "." && segment != "..";
    start = end + 1;
  }
  if (!ok) {
    throw tool_error(exit_usage, "the " + what + " '" + text + "' must be non-empty segments of letters, digits and "
                                 "._-+~ separated by '/'");
  }
}

// The stub writes each setup file as <product folder>\<name>: a plain Windows file name.
std::string file_name_problem(const std::string& name) {
  if (name.empty()) return "a setup file has no <name>";
  const auto forbidden = [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || std::string_view("/\\<>:\"|?*").find(c) != std::string_view::npos;
  };
  const bool bad = name == "." || name == ".." || std::any_of(name.begin(), name.end(), forbidden);
  return bad ? "'" + name + "' is not a plain file name" : "";
}

std::string repository_path(const std::string& hash) {
  return hash.substr(0, 4) + "/" + hash.substr(4, 4) + "/" + hash.substr(8, 4) + "/" + hash + ".lzma";
}

// Checks one described file against its content (or fills the description in); returns what is
// wrong with it, empty when nothing is.
std::string check_file(product_description& description, std::size_t index, const fs::path& source,
                       const publish_settings& settings) {
  const described_file& file = description.files()[index];
  std::error_code ec;
  if (!fs::is_regular_file(source, ec)) return "'" + file.name + "' is missing (looked for " + source.string() + ")";
  const auto content = read_file(source);
  root::sha256 hash;
  const std::string actual = root::digest_of(hash, content).hex();
  if (settings.fill) {
    description.fill(index, actual, content.size());
    return {};
  }
  const std::string what = "'" + file.name + "': ";
  if (!is_hex_digest(file.sha256)) return what + "<sha-256> '" + file.sha256 + "' is not 64 hexadecimal digits";
  std::string problem;
  if (lower(file.sha256) != actual) problem = what + "<sha-256> says " + file.sha256 + ", the file has " + actual;
  if (file.size != std::to_string(content.size())) {
    problem += (problem.empty() ? what : "; ") + "<size> says '" + file.size +
               "', the file has " + std::to_string(content.size()) + " bytes";
  }
  if (!problem.empty() && settings.allow_mismatch) {
    std::fprintf(stderr, "warning: %s (published anyway)\n", problem.c_str());
    return {};
  }
  return problem;
}

// Every check runs before anything is written; all problems are reported together.
std::vector<repository_object> check_files(product_description& description, const publish_settings& settings) {
  std::vector<repository_object> objects;
  std::string problems;
  for (std::size_t i = 0; i < description.files().size(); ++i) {
    const std::string name = description.files()[i].name;
    std::string problem = file_name_problem(name);
    const auto chosen = settings.setup_files.find(name);
    const fs::path source = chosen != settings.setup_files.end() ? chosen->second : settings.product_dir / name;
    if (problem.empty()) problem = check_file(description, i, source, settings);
    if (!problem.empty()) {
      problems += "\n  " + problem;
      continue;
    }
    const std::string& hash = description.files()[i].sha256;
    const bool known = std::any_of(objects.begin(), objects.end(), [&](const auto& o) { return o.hash == hash; });
    if (!known) objects.push_back({hash, source});
  }
  for (const auto& [name, path] : settings.setup_files) {
    const auto& files = description.files();
    if (std::none_of(files.begin(), files.end(), [&](const described_file& f) { return f.name == name; })) {
      std::fprintf(stderr, "warning: --setup-file %s: the description names no file '%s'\n", path.c_str(),
                   name.c_str());
    }
  }
  if (!problems.empty()) {
    const char* hint = settings.fill ? "" : "\n(--fill writes the files' hashes and sizes into the published copy)";
    throw tool_error(exit_refused, settings.description.string() + " does not match the setup files" + problems + hint);
  }
  return objects;
}

// A packed object as the stub downloads it: the .lzma stream followed by a binary signature block.
std::vector<std::uint8_t> signed_object(const signing_key& key, std::span<const std::uint8_t> content, int version,
                                        const std::string& what) {
  sig::sign_options options;
  options.version = version;
  return key.sign(packers::lzma_compress(content), options, what).data;
}

std::vector<std::uint8_t> signed_description(const signing_key& key, const product_description& description,
                                             const publish_settings& settings) {
  const auto bytes = description.bytes();
  sig::sign_options options;
  options.form = sig::block_form::text;
  options.xml_comment = true;
  options.version = settings.version;
  options.line_end = uses_crlf(bytes) ? sig::line_ending::crlf : sig::line_ending::lf;
  return key.sign(bytes, options, settings.description.string()).data;
}

void write_into(const fs::path& path, std::span<const std::uint8_t> data) {
  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  if (ec) throw tool_error(exit_io, "cannot create the folder '" + path.parent_path().string() + "': " + ec.message());
  write_file(path, data);
}

publish_settings settings_from(const arguments& args) {
  if (args.positional().size() != 2) throw tool_error(exit_usage, "publish needs PRODUCT_DIR and REPOSITORY");
  if (!args.value("keys") || !args.value("key")) throw tool_error(exit_usage, "publish needs --keys and --key");
  if (!args.value("channel")) throw tool_error(exit_usage, "publish needs --channel");
  publish_settings s;
  s.product_dir = args.positional()[0];
  s.repository = args.positional()[1];
  s.description = args.value("description").value_or((s.product_dir / "product-info.xml").string());
  s.channel = *args.value("channel");
  s.product = args.value("product").value_or("");
  s.fill = args.flag("fill");
  s.allow_mismatch = args.flag("allow-mismatch");
  if (s.fill && s.allow_mismatch) throw tool_error(exit_usage, "--fill and --allow-mismatch exclude each other");
  s.version = static_cast<int>(args.number("version", 3, 2, 3));
  for (const auto& use : args.in_order()) {
    if (use.name != "setup-file") continue;
    const std::string name = fs::path(use.value).filename().string();
    if (!s.setup_files.emplace(name, use.value).second) {
      throw tool_error(exit_usage, "--setup-file names two files called '" + name + "'");
    }
  }
  check_url_segments(s.channel, "channel");
  if (!s.product.empty()) check_url_segments(s.product, "product name");
  return s;
}

int run(const std::vector<std::string>& raw) {
  const arguments args(raw, {{"keys", true}, {"set", true}, {"key", true}, {"version", true}, {"channel", true},
                             {"product", true}, {"description", true}, {"setup-file", true, true}, {"fill", false},
                             {"allow-mismatch", false}, {"quiet", false}});
  auto settings = settings_from(args);
  const signing_key key(args);
  key.warn_if_development();
  product_description description(read_file(settings.description), settings.description.string());
  if (settings.product.empty()) {
    settings.product = description.product_name();
    if (settings.product.empty()) throw tool_error(exit_usage, "the description has no <name>; give --product");
    check_url_segments(settings.product, "product name");
  }
  const auto objects = check_files(description, settings);
  const auto signed_xml = signed_description(key, description, settings);
  const auto defs_object = signed_object(key, signed_xml, settings.version, settings.description.string());

  // Setup files first and the description last, so that a publish that fails half-way never
  // advertises files that are not there.
  for (const auto& object : objects) {
    const auto content = read_file(object.source);
    write_into(settings.repository / "universe" / repository_path(object.hash),
               signed_object(key, content, settings.version, object.source.string()));
  }
  const fs::path defs = settings.repository / "defs" / settings.product;
  write_into(defs / (settings.channel + ".xml"), signed_xml);
  write_into(defs / (settings.channel + ".xml.lzma"), defs_object);

  if (args.flag("quiet")) return exit_ok;
  std::printf("published %s as %s/%s into %s: %zu setup files in %zu objects, %s, version %d\n",
              settings.description.c_str(), settings.product.c_str(), settings.channel.c_str(),
              settings.repository.c_str(), description.files().size(), objects.size(), key.describe().c_str(),
              settings.version);
  std::printf("  defs/%s/%s.xml.lzma  (payload alias of the signed description: %s/%s.xml)\n",
              settings.product.c_str(), settings.channel.c_str(), settings.product.c_str(), settings.channel.c_str());
  for (const auto& object : objects) {
    std::printf("  universe/%s  (%s)\n", repository_path(object.hash).c_str(), object.source.c_str());
  }
  return exit_ok;
}

}  // namespace

const command publish_command{
    "publish", "turn a product folder into repository objects",
    "usage: sfxtool publish --keys FOLDER --key KEY --channel CHANNEL [options] PRODUCT_DIR REPOSITORY\n"
    "\n"
    "Reads PRODUCT_DIR/product-info.xml (unsigned) and the setup files it names, looked up by name in\n"
    "PRODUCT_DIR, and writes into the repository folder REPOSITORY (the stub's base URL):\n"
    "  defs/<product>/<channel>.xml.lzma  the description signed (XML comment), packed, and the\n"
    "                                     packed stream signed (binary block)\n"
    "  defs/<product>/<channel>.xml       the signed description itself, for a stub's payload under\n"
    "                                     the alias \"<product>/<channel>.xml\"\n"
    "  universe/<h[0..3]>/<h[4..7]>/<h[8..11]>/<h>.lzma\n"
    "                                     each setup file packed and signed (binary block), h being\n"
    "                                     its <sha-256> text as written in the description\n"
    "\n"
    "Every setup file of every <setup-files> group must exist and match its <sha-256> and <size>\n"
    "(exit 5 otherwise, nothing written). Objects are written one by one, each complete or not at\n"
    "all, the description last. Other products and channels in REPOSITORY stay as they are.\n"
    "\n"
    "  --keys FOLDER        key folder made by 'sfxtool keygen'\n"
    "  --set N              key set of the key (default 7, the set the stub checks downloads with)\n"
    "  --key KEY            dsa:I, ecdsa:I or a key name, as for 'sfxtool sign'\n"
    "  --version V          digest version 2 or 3 of every signature (default 3)\n"
    "  --channel CHANNEL    the channel to publish to (segments separated by '/', as pinned\n"
    "                       channels have)\n"
    "  --product NAME       the product name in the URL (default: the description's <name>)\n"
    "  --description FILE   the description to publish instead of PRODUCT_DIR/product-info.xml\n"
    "  --setup-file PATH    take the setup file of this file name from PATH instead of PRODUCT_DIR\n"
    "                       (repeatable)\n"
    "  --fill               write each file's SHA-256 and size into the published description\n"
    "                       instead of checking them (the original is left alone)\n"
    "  --allow-mismatch     publish files whose hash or size differ from the description, with a\n"
    "                       warning, under the description's hash (for testing the stub's checks)\n"
    "  --quiet              print warnings and errors only\n",
    run};

}  // namespace vyn::tool

#include "payload_entries.h"

#include <algorithm>
#include <fstream>

#include "command.h"
#include "file_io.h"
#include "foundation/strings.h"

namespace vyn::tool {
namespace {

namespace fs = std::filesystem;

struct collector {
  std::vector<payload_entry> entries;
  bool packed = false;
  int list_depth = 0;

  void add(const std::string& option, const std::string& value, const fs::path& base, const std::string& where);
  void add_file(const std::string& value, const fs::path& base, const std::string& where);
  void add_dir(const fs::path& dir, const std::string& where);
  void add_list(const fs::path& list);
};

[[noreturn]] void usage_failure(const std::string& where, const std::string& what) {
  throw tool_error(exit_usage, where + ": " + what);
}

fs::path resolve(const fs::path& base, const std::string& path) {
  return base.empty() || fs::path(path).is_absolute() ? fs::path(path) : base / path;
}

void collector::add(const std::string& option, const std::string& value, const fs::path& base,
                    const std::string& where) {
  if (option == "lzma" || option == "stored") {
    if (!value.empty()) usage_failure(where, option + " takes no value");
    packed = option == "lzma";
  } else if (value.empty()) {
    usage_failure(where, option + " needs a path");
  } else if (option == "file") {
    add_file(value, base, where);
  } else if (option == "hashed") {
    entries.push_back({resolve(base, value), "", packed});
  } else if (option == "dir") {
    add_dir(resolve(base, value), where);
  } else if (option == "list") {
    if (list_depth > 0) usage_failure(where, "a list cannot name another list");
    add_list(resolve(base, value));
  } else {
    usage_failure(where, "unknown entry '" + option + "'");
  }
}

// PATH[:ALIAS]: the first ':' ends the path.
void collector::add_file(const std::string& value, const fs::path& base, const std::string& where) {
  const auto colon = value.find(':');
  const fs::path path = resolve(base, value.substr(0, colon));
  std::string alias = colon == std::string::npos ? path.filename().string() : value.substr(colon + 1);
  if (alias.empty()) usage_failure(where, "'" + value + "' gives an empty alias; use hashed for a record without one");
  check_alias(alias, where);
  entries.push_back({path, std::move(alias), packed});
}

// Every regular file below dir, in the order of their aliases so that builds are repeatable.
void collector::add_dir(const fs::path& dir, const std::string& where) {
  std::vector<std::pair<std::string, fs::path>> found;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_regular_file(ec)) found.emplace_back(fs::relative(it->path(), dir).generic_string(), it->path());
  }
  if (ec) throw tool_error(exit_io, "cannot read the folder '" + dir.string() + "': " + ec.message());
  std::sort(found.begin(), found.end());
  for (auto& [alias, path] : found) {
    check_alias(alias, where + ": " + path.string());
    entries.push_back({std::move(path), std::move(alias), packed});
  }
}

// Lines "option [value]" as on the command line without "--"; '#' starts a comment line. Relative
// paths are taken from the list's own folder.
void collector::add_list(const fs::path& list) {
  const auto data = read_file(list);
  const std::string text(data.begin(), data.end());
  ++list_depth;
  std::size_t start = 0;
  for (int number = 1; start < text.size(); ++number) {
    auto end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    const auto first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;
    line = line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
    const auto space = line.find_first_of(" \t");
    const std::string option = line.substr(0, space);
    const std::string value = space == std::string::npos ? "" : line.substr(line.find_first_not_of(" \t", space));
    add(option, value, list.parent_path(), list.string() + ":" + std::to_string(number));
  }
  --list_depth;
}

}  // namespace

void check_alias(const std::string& alias, const std::string& context) {
  if (alias.size() > 0xFFFF) usage_failure(context, "an alias may hold at most 65535 bytes");
  try {
    (void)utils::to_wide(alias);
  } catch (const std::exception&) {
    usage_failure(context, "the alias '" + alias + "' is not valid UTF-8");
  }
  const auto control = [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; };
  if (std::any_of(alias.begin(), alias.end(), control)) {
    usage_failure(context, "the alias '" + alias + "' holds a control character");
  }
}

std::vector<payload_entry> collect_entries(const std::vector<option_use>& options) {
  collector c;
  for (const auto& o : options) {
    if (o.name == "file" || o.name == "hashed" || o.name == "dir" || o.name == "list" || o.name == "lzma" ||
        o.name == "stored") {
      c.add(o.name, o.value, {}, "--" + o.name);
    }
  }
  return std::move(c.entries);
}

}  // namespace vyn::tool

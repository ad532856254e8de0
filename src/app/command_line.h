#pragma once
// A parsed command line: optional program name, parameters with case-insensitive unique names
// (in order of first insertion), and positional arguments. Parsing and rendering never fail.
//
// Switches are written "/name", "/name:value" or "/name=value" (also with "--" instead of "/");
// the first ":" or "=" separates name and value. Rendering always writes "/name:value", quoting
// what needs it, so a rendered text parses back to the same value.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vyn::sfx {

class command_line {
 public:
  using parameter = std::pair<std::wstring, std::wstring>;

  command_line() = default;
  command_line(std::wstring_view text, bool has_program_name) { parse(text, has_program_name); }

  // Replaces the whole content; with has_program_name the first token is the program name.
  void parse(std::wstring_view text, bool has_program_name);
  bool has(std::wstring_view name) const;
  std::optional<std::wstring> find(std::wstring_view name) const;
  // The value of the named parameter; appends (name, "") first when it is absent.
  std::wstring& get_or_add(std::wstring_view name);
  // Overwrites the value of an existing parameter (which keeps its position), else appends.
  void set(std::wstring_view name, std::wstring_view value);
  // Removes the named parameter; false when there was none.
  bool remove(std::wstring_view name);
  void set_program_name(std::wstring_view name) { program_name_ = std::wstring(name); }
  // Takes other's program name (if it has one), sets each of its parameters here and appends its
  // positional arguments.
  void merge(const command_line& other);
  std::wstring render(bool include_program_name) const;

  const std::optional<std::wstring>& program_name() const { return program_name_; }
  const std::vector<parameter>& parameters() const { return parameters_; }
  const std::vector<std::wstring>& positional() const { return positional_; }

 private:
  std::vector<parameter>::iterator lookup(std::wstring_view name);
  std::vector<parameter>::const_iterator lookup(std::wstring_view name) const;

  std::optional<std::wstring> program_name_;
  std::vector<parameter> parameters_;
  std::vector<std::wstring> positional_;
};

// The text form of one argument: every double quote doubled, and the whole enclosed in double
// quotes when it holds white space.
std::wstring quote_argument(std::wstring_view text);

}  // namespace vyn::sfx

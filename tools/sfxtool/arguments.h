#pragma once
// Command-line options of one command: "--name value", "--name=value", flags and positional
// arguments. Anything unknown or incomplete raises tool_error(exit_usage). Options marked
// repeatable may be given any number of times; their order on the command line is kept.

#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vyn::tool {

struct option_def {
  std::string_view name;  // without the leading "--"
  bool takes_value;
  bool repeatable = false;
};

// One option as given: name without "--", and its value (empty for a flag).
struct option_use {
  std::string name;
  std::string value;
};

class arguments {
 public:
  arguments(const std::vector<std::string>& args, std::initializer_list<option_def> definitions);

  bool flag(std::string_view name) const;
  // The value of an option given at most once (the last one of a repeatable option).
  std::optional<std::string> value(std::string_view name) const;
  const std::vector<std::string>& positional() const noexcept { return positional_; }
  // Every option in command-line order.
  const std::vector<option_use>& in_order() const noexcept { return in_order_; }

  // The value as an unsigned number within [min, max]; fallback when absent.
  unsigned number(std::string_view name, unsigned fallback, unsigned min, unsigned max) const;
  // One of the choices; fallback when absent.
  std::string choice(std::string_view name, std::string_view fallback,
                     std::initializer_list<std::string_view> choices) const;

 private:
  std::map<std::string, std::string, std::less<>> values_;
  std::vector<std::string> positional_;
  std::vector<option_use> in_order_;
};

// Parses a decimal or 0x-prefixed hexadecimal number; empty when the text is not one.
std::optional<unsigned long long> parse_number(std::string_view text);

}  // namespace vyn::tool

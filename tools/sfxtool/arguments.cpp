#include "arguments.h"

#include <charconv>

#include "command.h"

namespace vyn::tool {

std::optional<unsigned long long> parse_number(std::string_view text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  unsigned long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

arguments::arguments(const std::vector<std::string>& args, std::initializer_list<option_def> definitions) {
  bool options_done = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options_done || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
      positional_.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_done = true;
      continue;
    }
    const auto eq = arg.find('=');
    const std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
    const option_def* definition = nullptr;
    for (const auto& s : definitions) {
      if (s.name == name) definition = &s;
    }
    if (!definition) throw tool_error(exit_usage, "unknown option --" + name);
    if (values_.count(name) && !definition->repeatable) {
      throw tool_error(exit_usage, "option --" + name + " given twice");
    }
    std::string value;
    if (!definition->takes_value) {
      if (eq != std::string::npos) throw tool_error(exit_usage, "option --" + name + " takes no value");
    } else if (eq != std::string::npos) {
      value = arg.substr(eq + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      throw tool_error(exit_usage, "option --" + name + " needs a value");
    }
    values_[name] = value;
    in_order_.push_back({name, std::move(value)});
  }
}

bool arguments::flag(std::string_view name) const { return values_.find(name) != values_.end(); }

std::optional<std::string> arguments::value(std::string_view name) const {
  const auto it = values_.find(name);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

unsigned arguments::number(std::string_view name, unsigned fallback, unsigned min, unsigned max) const {
  const auto text = value(name);
  if (!text) return fallback;
  const auto parsed = parse_number(*text);
  if (!parsed || *parsed < min || *parsed > max) {
    throw tool_error(exit_usage, "option --" + std::string(name) + " needs a number from " +
                                     std::to_string(min) + " to " + std::to_string(max) + ", not '" +
                                     *text + "'");
  }
  return static_cast<unsigned>(*parsed);
}

std::string arguments::choice(std::string_view name, std::string_view fallback,
                              std::initializer_list<std::string_view> choices) const {
  const auto text = value(name);
  if (!text) return std::string(fallback);
  std::string listed;
  for (auto c : choices) {
    if (c == *text) return *text;
    listed += (listed.empty() ? "" : ", ") + std::string(c);
  }
  throw tool_error(exit_usage, "option --" + std::string(name) + " takes one of " + listed + ", not '" +
                                   *text + "'");
}

}  // namespace vyn::tool

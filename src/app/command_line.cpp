#include "app/command_line.h"

#include <algorithm>

#include "foundation/strings.h"

namespace vyn::sfx {
namespace {

bool is_white(wchar_t c) noexcept { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

// Splits like the program's own parser always did: quotes group white space and may sit inside a
// token; two adjacent quotes are one literal quote, never an empty argument.
std::vector<std::wstring> tokenize(std::wstring_view text) {
  std::vector<std::wstring> tokens;
  bool in_quotes = false;
  bool token_pending = true;
  const auto store = [&](wchar_t c) {
    if (token_pending) {
      tokens.emplace_back();
      token_pending = false;
    }
    tokens.back().push_back(c);
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const wchar_t c = text[i];
    if (c == L'"') {
      if (i + 1 < text.size() && text[i + 1] == L'"') {
        store(L'"');
        ++i;
      } else {
        in_quotes = !in_quotes;
      }
    } else if (is_white(c) && !in_quotes) {
      token_pending = true;
    } else {
      store(c);
    }
  }
  return tokens;
}

// Name and value of a switch token, or nothing for a positional argument.
std::optional<std::pair<std::wstring_view, std::wstring_view>> split_switch(std::wstring_view token) {
  std::size_t prefix = 0;
  if (token.starts_with(L'/')) {
    prefix = 1;
  } else if (token.size() > 1 && token.starts_with(L"--")) {
    prefix = 2;
  } else {
    return std::nullopt;
  }
  const std::wstring_view body = token.substr(prefix);
  const std::size_t separator = body.find_first_of(L"=:");
  if (separator == std::wstring_view::npos) return std::pair{body, std::wstring_view{}};
  return std::pair{body.substr(0, separator), body.substr(separator + 1)};
}

}  // namespace

std::wstring quote_argument(std::wstring_view text) {
  std::wstring quoted;
  quoted.reserve(text.size() + 2);
  for (wchar_t c : text) {
    if (c == L'"') quoted.push_back(L'"');
    quoted.push_back(c);
  }
  if (std::any_of(quoted.begin(), quoted.end(), is_white)) quoted = L'"' + quoted + L'"';
  return quoted;
}

void command_line::parse(std::wstring_view text, bool has_program_name) {
  program_name_.reset();
  parameters_.clear();
  positional_.clear();

  std::vector<std::wstring> tokens = tokenize(text);
  auto token = tokens.begin();
  if (has_program_name && token != tokens.end()) {
    if (!token->empty()) program_name_ = std::move(*token);
    ++token;
  }
  for (; token != tokens.end(); ++token) {
    if (const auto name_value = split_switch(*token)) {
      set(name_value->first, name_value->second);
    } else {
      positional_.push_back(std::move(*token));
    }
  }
}

std::vector<command_line::parameter>::iterator command_line::lookup(std::wstring_view name) {
  return std::find_if(parameters_.begin(), parameters_.end(),
                      [name](const parameter& p) { return utils::iequals(p.first, name); });
}

std::vector<command_line::parameter>::const_iterator command_line::lookup(std::wstring_view name) const {
  return std::find_if(parameters_.begin(), parameters_.end(),
                      [name](const parameter& p) { return utils::iequals(p.first, name); });
}

bool command_line::has(std::wstring_view name) const { return lookup(name) != parameters_.end(); }

std::optional<std::wstring> command_line::find(std::wstring_view name) const {
  const auto it = lookup(name);
  if (it == parameters_.end()) return std::nullopt;
  return it->second;
}

std::wstring& command_line::get_or_add(std::wstring_view name) {
  auto it = lookup(name);
  if (it != parameters_.end()) return it->second;
  return parameters_.emplace_back(std::wstring(name), std::wstring()).second;
}

void command_line::set(std::wstring_view name, std::wstring_view value) {
  get_or_add(name) = std::wstring(value);
}

bool command_line::remove(std::wstring_view name) {
  const auto it = lookup(name);
  if (it == parameters_.end()) return false;
  parameters_.erase(it);
  return true;
}

void command_line::merge(const command_line& other) {
  if (other.program_name_) program_name_ = other.program_name_;
  for (const auto& [name, value] : other.parameters_) set(name, value);
  positional_.insert(positional_.end(), other.positional_.begin(), other.positional_.end());
}

std::wstring command_line::render(bool include_program_name) const {
  std::wstring text;
  const auto separate = [&text] {
    if (!text.empty()) text.push_back(L' ');
  };
  if (include_program_name && program_name_) text = quote_argument(*program_name_);
  for (const auto& [name, value] : parameters_) {
    separate();
    text += L'/';
    text += name;
    if (!value.empty()) {
      text += L':';
      text += quote_argument(value);
    }
  }
  for (const auto& argument : positional_) {
    separate();
    text += quote_argument(argument);
  }
  return text;
}

}  // namespace vyn::sfx

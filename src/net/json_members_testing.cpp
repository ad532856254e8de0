#include "net/json_members_testing.h"

#include <cstdint>
#include <stdexcept>

namespace vyn::sfx::testing {
namespace {

class reader {
 public:
  explicit reader(std::string_view text) : text_(text) {}

  std::vector<json_member> read() {
    value("");
    skip_blanks();
    if (at_ != text_.size()) fail("text after the value");
    return out_;
  }

 private:
  [[noreturn]] void fail(const std::string& what) const {
    throw std::runtime_error("not JSON at offset " + std::to_string(at_) + ": " + what);
  }

  void skip_blanks() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r')) {
      ++at_;
    }
  }

  char peek() {
    skip_blanks();
    if (at_ >= text_.size()) fail("unexpected end");
    return text_[at_];
  }

  void expect(char c) {
    if (peek() != c) fail(std::string("expected '") + c + "'");
    ++at_;
  }

  void value(const std::string& path) {
    const char c = peek();
    if (c == '{') {
      out_.push_back({path, "object", {}});
      object(path);
    } else if (c == '[') {
      out_.push_back({path, "array", {}});
      array(path);
    } else if (c == '"') {
      out_.push_back({path, "string", string()});
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      out_.push_back({path, "number", number()});
    } else {
      for (const char* word : {"true", "false", "null"}) {
        if (text_.substr(at_).starts_with(word)) {
          at_ += std::string_view(word).size();
          out_.push_back({path, word, {}});
          return;
        }
      }
      fail("no value");
    }
  }

  void object(const std::string& path) {
    expect('{');
    if (peek() == '}') {
      ++at_;
      return;
    }
    for (;;) {
      if (peek() != '"') fail("expected a member name");
      const std::string name = string();
      expect(':');
      value(path.empty() ? name : path + "." + name);
      if (peek() == ',') {
        ++at_;
        continue;
      }
      expect('}');
      return;
    }
  }

  void array(const std::string& path) {
    expect('[');
    if (peek() == ']') {
      ++at_;
      return;
    }
    for (;;) {
      value(path + "[]");
      if (peek() == ',') {
        ++at_;
        continue;
      }
      expect(']');
      return;
    }
  }

  std::string number() {
    const std::size_t start = at_;
    if (text_[at_] == '-') ++at_;
    const std::size_t digits = at_;
    while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
    if (at_ == digits || (text_[digits] == '0' && at_ - digits > 1)) fail("bad number");
    if (at_ < text_.size() && (text_[at_] == '.' || text_[at_] == 'e' || text_[at_] == 'E')) fail("not an integer");
    return std::string(text_.substr(start, at_ - start));
  }

  static void append_utf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  std::string string() {
    expect('"');
    std::string out;
    for (;;) {
      if (at_ >= text_.size()) fail("unterminated string");
      const char c = text_[at_++];
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) fail("control byte in a string");
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_ >= text_.size()) fail("unterminated escape");
      const char e = text_[at_++];
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          if (at_ + 4 > text_.size()) fail("short \\u escape");
          std::uint32_t code = 0;
          for (int i = 0; i < 4; ++i) {
            const char h = text_[at_++];
            code <<= 4;
            if (h >= '0' && h <= '9') code |= static_cast<std::uint32_t>(h - '0');
            else if (h >= 'a' && h <= 'f') code |= static_cast<std::uint32_t>(h - 'a' + 10);
            else if (h >= 'A' && h <= 'F') code |= static_cast<std::uint32_t>(h - 'A' + 10);
            else fail("bad \\u escape");
          }
          append_utf8(out, code);
          break;
        }
        default:
          fail("unknown escape");
      }
    }
  }

  std::string_view text_;
  std::size_t at_ = 0;
  std::vector<json_member> out_;
};

}  // namespace

std::vector<json_member> json_members(std::string_view text) { return reader(text).read(); }

std::vector<std::string> json_paths(std::string_view text) {
  std::vector<std::string> paths;
  for (const json_member& m : json_members(text)) paths.push_back(m.path);
  return paths;
}

std::string json_value(std::string_view text, std::string_view path) {
  for (const json_member& m : json_members(text)) {
    if (m.path == path) return m.value;
  }
  throw std::runtime_error("no member " + std::string(path));
}

std::vector<std::string> expected_record_paths(bool finish_state, bool hdd) {
  const std::string r = "record[]";
  std::vector<std::string> paths = {"", "record", r, r + ".event", r + ".event.type", r + ".event.subtype",
                                    r + ".event.request_id", r + ".event.time", r + ".setup", r + ".setup.common"};
  for (const char* name : {"operation", "session_id", "stage", "title"}) paths.push_back(r + ".setup.common." + name);
  if (finish_state) {
    paths.push_back(r + ".setup.finish_state");
    for (const char* name : {"reboot", "ret_code", "crash_msg"}) paths.push_back(r + ".setup.finish_state." + name);
  }
  paths.push_back(r + ".setup.product");
  paths.push_back(r + ".setup.product.name");
  paths.push_back(r + ".setup.config");
  for (const char* name : {"main_products", "sfx_ver", "trigger", "cmdline"}) paths.push_back(r + ".setup.config." + name);
  paths.push_back(r + ".setup.system");
  for (const char* name : {"memory", "processors", "workstation"}) paths.push_back(r + ".setup.system." + name);
  if (hdd) {
    paths.push_back(r + ".setup.system.hdd");
    paths.push_back(r + ".setup.system.hdd.available");
  }
  paths.push_back(r + ".identity");
  for (const char* name : {"hwid", "fingerprint", "endpoint_id"}) paths.push_back(r + ".identity." + name);
  paths.push_back(r + ".installation");
  for (const char* name : {"action", "aiid", "time"}) paths.push_back(r + ".installation." + name);
  paths.push_back(r + ".platform");
  for (const char* name : {"architecture", "os", "version", "build", "lang", "time_zone"}) {
    paths.push_back(r + ".platform." + name);
  }
  paths.push_back(r + ".product");
  for (const char* name : {"edition", "id", "version_app"}) paths.push_back(r + ".product." + name);
  return paths;
}

std::vector<std::string> json_record_paths(std::string_view record) {
  std::vector<std::string> paths;
  for (const std::string& path : json_paths(record)) {
    if (!path.starts_with("record[].setup.config.main_products[]")) paths.push_back(path);
  }
  return paths;
}

}  // namespace vyn::sfx::testing

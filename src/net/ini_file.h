#pragma once
// An INI document: ordered sections of ordered key/value pairs, as proxy.ini and LC.INI hold them.
//
//   vyn::utils::ini_file ini = vyn::utils::ini_file::parse(bytes);   // or ini.load(path)
//   std::wstring host = ini.get(L"ProxySettings", L"ProxyName", L"");
//   ini.set(L"MID", L"Value", id);
//   std::vector<std::uint8_t> text = ini.render(vyn::utils::text_encoding::utf8);
//
// Text: a file that starts with FF FE is UTF-16 little-endian, one that starts with FE FF UTF-16
// big-endian, anything else UTF-8 (a leading EF BB BF is skipped). Lines end at line feeds, one
// carriage return before the line feed is dropped, empty lines are skipped. A line starting with
// '#' or ';' is a comment; "[name]" (first character '[', last ']') opens a section; any other
// line with '=' is an entry whose key (before the first '=') and value (after it) are trimmed of
// blanks, tabs, CR, LF, FF and VT. Entries before the first section and lines without '=' are
// ignored; a repeated key replaces the earlier value, a repeated section continues the earlier one.
//
// Section and key names compare case-insensitively (ASCII letters) and both maps are ordered by
// that comparison, which is also the order in which render() writes them.
//
// parse() and render() are byte-level code, also built for the host; load() and save() exist on
// Windows only.

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vyn::utils {

enum class text_encoding { utf8, utf16_be, utf16_le };

// Orders names by their ASCII-lower-case code units.
struct ini_name_less {
  using is_transparent = void;
  bool operator()(std::wstring_view a, std::wstring_view b) const noexcept;
};

class ini_file {
 public:
  using section = std::map<std::wstring, std::wstring, ini_name_less>;
  using section_map = std::map<std::wstring, section, ini_name_less>;

  // An empty document whose encoding is UTF-16 little-endian.
  ini_file() = default;

  // Parses INI text and remembers its encoding. Raises vyn::exceptions::error with code 13
  // (ERROR_INVALID_DATA) when the text is not well-formed in its encoding: bytes that are not
  // UTF-8, an odd number of UTF-16 bytes, an unpaired surrogate.
  static ini_file parse(std::span<const std::uint8_t> bytes);

  // The document as text in the given encoding, starting with its byte-order mark (FF FE, FE FF,
  // or EF BB BF for UTF-8): for each section "\r\n[name]\r\n", then "key=value\r\n" per key.
  // Raises vyn::exceptions::error with code 13 when a name or value holds an unpaired surrogate.
  std::vector<std::uint8_t> render(text_encoding encoding) const;
  // The same in the remembered encoding.
  std::vector<std::uint8_t> render() const { return render(encoding_); }

  // The encoding the document was parsed from (UTF-16 little-endian for a new one).
  text_encoding encoding() const noexcept { return encoding_; }
  void set_encoding(text_encoding encoding) noexcept { encoding_ = encoding; }

  // The value of key in section, or nothing when either is missing.
  std::optional<std::wstring> find(std::wstring_view section_name, std::wstring_view key) const;
  std::wstring get(std::wstring_view section_name, std::wstring_view key, std::wstring_view fallback) const;
  // The value read as a signed decimal 32-bit number ("-12", "+7", "42abc" gives 42); fallback when
  // the key is missing, the value does not start with a number, or the number is out of range.
  std::int32_t get_int(std::wstring_view section_name, std::wstring_view key, std::int32_t fallback) const;
  // Creates the section and the key as needed; an existing key keeps its spelling.
  void set(std::wstring_view section_name, std::wstring_view key, std::wstring_view value);
  void set_int(std::wstring_view section_name, std::wstring_view key, std::int32_t value);

  const section_map& sections() const noexcept { return sections_; }
  bool empty() const noexcept { return sections_.empty(); }

#ifdef _WIN32
  // Replaces the document with the file's content, read under a shared lock. Opening is retried
  // for up to 5000 ms while another program holds the file (sharing violation). Returns false
  // with the system error code as the thread's last error when the file cannot be read or is not
  // well-formed (13); the document is then left empty. Nothing is raised.
  bool load(std::wstring_view path);
  // Writes the document in its encoding to the file (created when missing), from the start and
  // ending the file there, under an exclusive lock; opening is retried as for load(). Returns
  // false with the thread's last error set on failure.
  bool save(std::wstring_view path) const;
#endif

 private:
  section_map sections_;
  text_encoding encoding_ = text_encoding::utf16_le;
};

// The signed decimal number at the start of text, when it starts with one that fits 32 bits.
std::optional<std::int32_t> parse_leading_int(std::wstring_view text) noexcept;

}  // namespace vyn::utils

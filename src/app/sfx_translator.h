#pragma once
// Texts shown to the user, looked up by identifier ("@Sfx_Title", ...) in the localisation
// resource for one language, falling back to US English and finally to the identifier itself.
// A caller may therefore pass a plain message instead of an identifier.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include <pugixml.hpp>

namespace vyn::sfx {

class sfx_translator_intf {
 public:
  // The translation with "{0}", "{1}", ... replaced by the arguments in order.
  virtual std::wstring format(const std::wstring& identifier, const std::vector<std::wstring>& arguments) = 0;
  virtual std::wstring translate(const std::wstring& identifier) = 0;
  virtual ~sfx_translator_intf() = default;
};

class sfx_translator : public sfx_translator_intf {
 public:
  class factory {
   public:
    virtual ~factory() = default;
    // language is a Windows language identifier; unknown ones read US English.
    virtual std::shared_ptr<sfx_translator_intf> create_sfx_translator(std::int32_t language) = 0;
  };

  // Resource type and id of the LZMA-packed localisation table in the executable.
  static constexpr const wchar_t* resource_type = L"LZMA";
  static constexpr int resource_id = 300;

  // Reads the table from the running executable's resource. A missing or broken table leaves
  // the translator empty: every text is then its identifier.
  explicit sfx_translator(std::int32_t language);
  // Reads the table from LZMA-packed bytes (the resource's content), with the same fallbacks.
  sfx_translator(std::int32_t language, std::span<const std::uint8_t> packed);

  std::wstring format(const std::wstring& identifier, const std::vector<std::wstring>& arguments) override;
  std::wstring translate(const std::wstring& identifier) override;

 private:
  void load(std::span<const std::uint8_t> packed) noexcept;
  // The text of the identifier in the language with this tag; empty when there is none.
  const wchar_t* lookup(const std::wstring& identifier, const wchar_t* tag) const;

  pugi::xml_document document_;
  std::int32_t language_;
};

// Replaces every "{i}" in text by arguments[i]. Placeholders are found in text only, never in an
// argument already put in, so a product name containing "{1}" stays as it is.
std::wstring fill_placeholders(const std::wstring& text, const std::vector<std::wstring>& arguments);

}  // namespace vyn::sfx

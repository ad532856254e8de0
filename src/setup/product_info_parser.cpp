#include "setup/product_info_parser.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>

#include <fmt/format.h>

#include "foundation/exceptions.h"
#include "foundation/handle.h"
#include "foundation/log.h"
#include "foundation/strings.h"
#include "setup/condition_containers.h"
#include "setup/condition_factory.h"
#include "setup/expander.h"
#include "setup/xml_paths.h"

namespace vyn::sfx {
namespace {

using repository::conditions::basic_context;

// The leading decimal number of an element's text; 0 when the element is missing or its text
// does not begin with a number.
std::int64_t number_of(const pugi::xml_node& element) {
  return std::wcstoll(element.text().get(), nullptr, 10);
}

std::wstring text_of(const pugi::xml_node& parent, const wchar_t* child) {
  return parent.child(child).text().get();
}

// True when a <file> anywhere names the arm64 setup master ("kestro.exe" in the text of its first
// <name>) and an <os> element anywhere is for the arm64 platform.
bool describes_arm64_master(const pugi::xml_document& document) {
  bool master = false;
  bool platform = false;
  for (pugi::xml_node node = document.first_child(); node && !(master && platform);
       node = xml::next_in_document(node, document)) {
    if (!master && xml::is_element(node, L"file")) {
      master = xml::string_value(xml::element_at(node, L"name")).find(L"kestro.exe") != std::wstring::npos;
    } else if (!platform && xml::is_element(node, L"os")) {
      platform = xml::has_attribute(node, L"platform", L"arm64");
    }
  }
  return master && platform;
}

[[noreturn]] void fail(std::uint32_t code, const std::string& message) {
  VYN_LOG_ERROR("{} (error {})", message, code);
  throw exceptions::error(code, message);
}

}  // namespace

product_info_parser::product_info_parser(shared_context& context)
    : sfx_data_holder(context), document_(std::make_unique<pugi::xml_document>()) {}

product_info_parser::~product_info_parser() = default;

void product_info_parser::parse(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) {
    VYN_LOG_ERROR("Product-info data are empty.");
    throw exceptions::error("Product-info data are empty.");
  }
  auto document = std::make_unique<pugi::xml_document>();
  const pugi::xml_parse_result result = document->load_buffer(bytes.data(), bytes.size());
  if (!result) {
    VYN_LOG_ERROR("Failed to parse product-info data, {}.", result.description());
    throw exceptions::error("Product-info data can't be parsed.");
  }
  // Everything is built aside first, so that a failure leaves the previous content whole.
  std::vector<std::uint8_t> raw(bytes.begin(), bytes.end());
  std::vector<file_info> setup_files = collect_setup_files(*document);
  const pugi::xml_node product = xml::element_at(*document, L"product-info");
  std::wstring version = text_of(product, L"version");
  std::wstring name = text_of(product, L"name");
  const bool arm64 = describes_arm64_master(*document);
  std::vector<branding_file> branding_files = collect_branding_files(*document);

  document_ = std::move(document);
  raw_ = std::move(raw);
  setup_files_ = std::move(setup_files);
  version_ = std::move(version);
  name_ = std::move(name);
  has_arm64_master_ = arm64;
  branding_files_ = std::move(branding_files);
}

std::vector<file_info> product_info_parser::collect_setup_files(const pugi::xml_document& document) const {
  std::vector<file_info> files;
  for (const pugi::xml_node& group : xml::elements_at(document, L"product-info/setup-files")) {
    if (!applies(group)) continue;
    for (const pugi::xml_node& file : group.children(L"file")) {
      if (!applies(file)) continue;
      files.push_back({text_of(file, L"name"), text_of(file, L"sha-256"), number_of(file.child(L"timestamp")),
                       number_of(file.child(L"size"))});
    }
  }
  return files;
}

std::vector<branding_file> product_info_parser::collect_branding_files(const pugi::xml_document& document) const {
  std::vector<branding_file> files;
  for (const pugi::xml_node& file : xml::elements_at(document, L"product-info/branding-files/file")) {
    if (!applies(file)) continue;
    branding_file branding{text_of(file, L"url"), text_of(file, L"edat-alias") + L".edat", text_of(file, L"name"),
                           {}, {}, {}};
    if (file.child(L"hash-url")) {
      branding.hash_url = text_of(file, L"hash-url");
      branding.hash_edat_alias = text_of(file, L"hash-edat-alias") + L".edat";
      branding.hash_name = text_of(file, L"hash-name");
    }
    files.push_back(std::move(branding));
  }
  return files;
}

bool product_info_parser::applies(const pugi::xml_node& element) const {
  try {
    const std::shared_ptr<basic_context> context = make_context();
    for (const wchar_t* part : {L"conditions", L"conditions2"}) {
      repository::conditions::condition_root root;
      root.build(element.child(part), *context);
      if (!root.evaluate(*context)) return false;
    }
    return true;
  } catch (const exceptions::error& e) {
    VYN_LOG_EXC(log::level::warning, e, "The conditions of <{}> cannot be decided, the element does not apply.",
                utils::to_log(element.name()));
    return false;
  }
}

pugi::xml_node product_info_parser::setup_commands() const {
  for (const pugi::xml_node& found : xml::elements_at(*document_, L"product-info/setup-commands")) {
    if (applies(found)) return found;
  }
  VYN_LOG_ERROR("The <setup-commands> element is not presented in product-info.xml!");
  return {};
}

void product_info_parser::save(const std::wstring& path) const {
  win::unique_handle file(::CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) fail(::GetLastError(), fmt::format("Unable to create file '{}'!", utils::to_log(path)));
  std::span<const std::uint8_t> rest(raw_);
  while (!rest.empty()) {
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(rest.size(), 1u << 30));
    DWORD written = 0;
    const BOOL ok = ::WriteFile(file.get(), rest.data(), chunk, &written, nullptr);
    if (!ok || written == 0) {
      const DWORD code = ok ? ERROR_WRITE_FAULT : ::GetLastError();
      // A partial description must not stay behind under the name of a complete one.
      FILE_DISPOSITION_INFO dispose{TRUE};
      ::SetFileInformationByHandle(file.get(), FileDispositionInfo, &dispose, sizeof(dispose));
      fail(code, fmt::format("Unable to write file '{}'!", utils::to_log(path)));
    }
    rest = rest.subspan(written);
  }
}

std::shared_ptr<basic_context> product_info_parser::make_context() const {
  auto expander = std::make_shared<repository::light_expander>();
  expander->set(L"%KESTRO_IS_MAIN_PRODUCT%", L"1");
  expander->set(L"%KESTRO_IS_SFX%", L"1");
  expander->set(L"%KESTRO_IS_MASTER%", L"1");
  expander->set(L"%KESTRO_SFX_ARCHITECTURE%", L"x86");
  expander->set(L"%KESTRO_IS_SILENT%", silent_variable());
  return std::make_shared<basic_context>(std::make_shared<repository::conditions::basic_factory>(),
                                         std::move(expander));
}

// The run is silent when its configuration asks for it. A "silent" switch on the command line
// then passes its own value on to the setup master instead: an empty value keeps the setup
// silent, a value naming single interface elements hides only those, so the setup is not silent.
const wchar_t* product_info_parser::silent_variable() const {
  if (!context_.values || !context_.values->get_bool(L"silent", false)) return L"0";
  const auto& parameters = context_.cmd.parameters();
  const auto switch_given = std::find_if(parameters.begin(), parameters.end(),
                                         [](const auto& p) { return utils::iequals(p.first, L"silent"); });
  return switch_given == parameters.end() || switch_given->second.empty() ? L"1" : L"0";
}

}  // namespace vyn::sfx

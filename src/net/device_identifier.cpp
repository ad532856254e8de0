#include "net/device_identifier.h"

#include <algorithm>

#include "foundation/exceptions.h"
#include "foundation/log.h"
#include "foundation/product_identity.h"
#include "foundation/random.h"
#include "foundation/strings.h"
#include "net/base64.h"
#include "net/endpoint_file.h"
#include "net/machine_items.h"

namespace vyn::mi {
namespace {

constexpr std::uint32_t invalid_data = 13;

constexpr storage_location endpoint_location{L"144807F0-DE37-4C62-9C05-EB4CC64A7A2F", L"56C7A9DA-4B11-406A-8B1A-EFF157C294D6",
                    L"F07D8C6A-04B6-4025-869C-70A788D7B5C0"};
constexpr storage_location fingerprint_location{L"5FD38555-4B16-40AE-9A09-E2C969CB74AF", L"7CCD586D-2ABC-42FF-A23B-3731F4F183D9",
                         L"D566D7D7-DCD6-471C-8109-BE0AD33199E3"};
constexpr storage_location source_data_location{L"8C5CFDF4-AB05-4EB0-8EF6-7B4620DC2CF3", L"5E1D6A55-0134-486E-A166-38C2E4919BB1",
                         L"6358C710-B89F-46B9-93F2-F6CAC44F5286"};

}  // namespace

std::wstring fingerprint_text(device_identifier_intf& identity) {
  std::wstring text;
  std::vector<std::string> changed;
  identity.fingerprint(text, changed);
  return text;
}

std::wstring endpoint_id_text(device_identifier_intf& identity) {
  std::wstring text;
  identity.endpoint_identifier(text);
  return text;
}

std::unique_ptr<permanent_storage_intf> device_identifier::create_permanent_storage() {
  return std::make_unique<permanent_storage>();
}

std::unique_ptr<midex_intf> device_identifier::create_midex() { return std::make_unique<midex>(); }

std::unique_ptr<files::CFilesWrapper> device_identifier::create_files_wrapper() {
  return files::make_files_wrapper();
}

void device_identifier::create_parts() {
  // The fingerprint and the endpoint identifier each hold only their own lock.
  std::call_once(parts_once_, [this] {
    storage_ = create_permanent_storage();
    midex_ = create_midex();
    files_ = create_files_wrapper();
  });
}

void device_identifier::start() {
  if (encryption_) return;
  create_parts();
  const std::vector<std::uint8_t> identifier = midex_->get(1, 32, nullptr);
  framework::local_encryption::secret secret{};
  std::copy_n(identifier.begin(), std::min(identifier.size(), secret.size()), secret.begin());
  encryption_.emplace(secret);
}

bool device_identifier::store(const storage_location& where, std::wstring_view datum, const char* failure_message) {
  try {
    storage_->write(where.k1, where.k2, where.n, datum);
    return true;
  } catch (const exceptions::detail::base& e) {
    VYN_LOG_EXC(log::level::error, e, "{}", failure_message);
    return false;
  }
}

void device_identifier::store_source_data(const source_items& items) {
  try {
    const auto sealed = encryption_->encrypt(serialise_source_items(items));
    storage_->write(source_data_location.k1, source_data_location.k2, source_data_location.n,
                    utils::to_wide(utils::base64_encode(sealed.bytes())));
  } catch (const exceptions::detail::base& e) {
    VYN_LOG_EXC(log::level::error, e, "Store source data failed");
  }
}

std::optional<source_items> device_identifier::load_source_data() {
  try {
    const std::wstring text =
        storage_->read(source_data_location.k1, source_data_location.k2, source_data_location.n, L"");
    if (text.empty()) throw exceptions::error(ERROR_FILE_NOT_FOUND, "No stored source data");
    const auto sealed = utils::base64_decode_strict(utils::to_narrow(text));
    if (!sealed) throw exceptions::error(invalid_data, "base64decode failed");
    return parse_source_items(encryption_->decrypt(*sealed).bytes());
  } catch (const exceptions::detail::base& e) {
    VYN_LOG_EXC(log::level::error, e, "Load source data failed");
    return std::nullopt;
  }
}

void device_identifier::fingerprint(std::wstring& text, std::vector<std::string>& changed) {
  const std::lock_guard lock(fingerprint_lock_);
  if (fingerprint_.empty()) make_fingerprint();
  text = fingerprint_;
  changed = changed_;
}

void device_identifier::make_fingerprint() {
  start();
  source_items items;
  const std::wstring current = upper_hex(midex_->get(2, 16, &items));
  const auto& where = fingerprint_location;
  const std::wstring stored = storage_->read(where.k1, where.k2, where.n, L"");
  if (items.empty()) {
    // No hardware item could be read this time: the identifier is then the same on every such
    // machine. Stored, it would replace the machine's own and, with no items to compare, be kept
    // from then on.
    VYN_LOG_WARNING("No hardware item of the fingerprint could be read; nothing is stored.");
    fingerprint_ = stored.empty() ? current : stored;
    return;
  }
  if (stored.empty()) {
    VYN_LOG_DEBUG("Storing the new fingerprint");
    store(where, current, "Store finger print failed");
    store_source_data(items);
    fingerprint_ = current;
    return;
  }
  if (stored == current) {
    fingerprint_ = stored;
    return;
  }
  const std::optional<source_items> previous = load_source_data();
  std::vector<std::string> changed;
  if (previous) changed = changed_items(*previous, items);
  if (previous && changed.size() < 2) {
    VYN_LOG_INFO("Fingerprint source data are updated.");
    store_source_data(items);
    fingerprint_ = stored;
  } else {
    VYN_LOG_INFO("Fingerprint source data changed to much, update it.");
    store(where, current, "Sore updated fingerprint failed");
    store_source_data(items);
    fingerprint_ = current;
  }
  changed_ = std::move(changed);
}

void device_identifier::endpoint_identifier(std::wstring& text) {
  const std::lock_guard lock(endpoint_lock_);
  if (endpoint_.empty()) endpoint_ = find_endpoint_identifier();
  text = endpoint_;
}

std::wstring device_identifier::shared_file_path() {
  try {
    return endpoint_file_path(*files_);
  } catch (const exceptions::detail::base& e) {
    VYN_LOG_EXC(log::level::warning, e, "The folder of the shared endpoint id is unknown.");
    return {};
  }
}

void device_identifier::share(const std::wstring& path, const std::wstring& id) {
  if (brand_ == root::brand_kind::halvard && !path.empty()) write_endpoint_file(*files_, path, id);
}

std::wstring device_identifier::find_endpoint_identifier() {
  create_parts();  // the endpoint identifier needs neither the machine identifier nor its secret
  const auto& where = endpoint_location;
  const std::wstring stored = storage_->read(where.k1, where.k2, where.n, L"");
  const std::wstring path = shared_file_path();
  const std::wstring shared = path.empty() ? std::wstring() : read_endpoint_file(*files_, path);
  std::wstring id;
  if (!shared.empty()) {
    if (shared != stored) store(where, shared, "Store endpoint id failed");
    id = shared;
  } else if (!stored.empty()) {
    share(path, stored);
    id = stored;
  }
  std::erase(id, L'"');
  if (id.empty()) {
    id = utils::to_wide(utils::random_uuid());
    store(where, id, "Store endpoint id failed");
    share(path, id);
  }
  return id;
}

std::unique_ptr<device_identifier_intf> make_device_identifier() {
  auto identity = std::make_unique<device_identifier>(root::brand().kind);
  identity->start();
  return identity;
}

}  // namespace vyn::mi

// The localised message boxes need the translator and its resource, which the stub does not
// carry yet; until then a failure is only logged and reported, and the exit code tells the rest.
#include "app/message_box.h"

namespace vyn::sfx {

void show_error(std::int32_t, const std::wstring&, const std::wstring&) {}

void show_download_error(std::int32_t, const std::wstring&, const std::wstring&) {}

}  // namespace vyn::sfx

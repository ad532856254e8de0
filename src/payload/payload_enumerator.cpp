#include "payload/payload_enumerator.h"

#include "foundation/exceptions.h"
#include "foundation/log.h"

namespace vyn::sfx {
namespace {

// Checks, in this order, that there is a mapping, that it has a view, that the view holds a
// 32-bit image and where the payload starts.
record_walker walker_over(const std::shared_ptr<files::file_mapping>& mapping) {
  if (!mapping) {
    VYN_LOG_ERROR("payload_enumerator: input handle is nullptr");
    throw vyn::exceptions::error(87u, "file handle is null");
  }
  const utils::byte_view view = mapping->view();
  if (view.bytes().data() == nullptr) {
    throw vyn::exceptions::error("Unable to retrieve pointer of the unmapped view!");
  }
  const std::uint64_t start = payload_start_of(view);
  if (mapping->size() == 0) {
    throw vyn::exceptions::error("Unable to retrieve size of uninitialized mapping!");
  }
  check_payload_start(start, mapping->size());
  return record_walker(view, start);
}

}  // namespace

payload_enumerator::payload_enumerator(std::shared_ptr<files::file_mapping> mapping)
    : mapping_(std::move(mapping)), walker_(walker_over(mapping_)) {}

bool payload_enumerator::first() { return walker_.first(); }

bool payload_enumerator::next() { return walker_.next(); }

}  // namespace vyn::sfx

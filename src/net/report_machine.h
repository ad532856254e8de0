#pragma once
// The machine's side of an analytics record, read from Windows when the record is built.

#include <cstdint>
#include <string>

#include "net/report_record.h"

namespace vyn::sfx::report {

// Fills the event time, the running executable's version, memory, processors, product type,
// the free space of disk_path's volume (when disk_path is not empty), the platform and the user
// interface language of facts. Raises when the native platform has no name; a query that fails
// otherwise leaves its figure at 0 (or the version empty).
void read_machine_facts(report_facts& facts, const std::wstring& disk_path);

// UTC now, in milliseconds since 1970-01-01.
std::int64_t utc_milliseconds();

}  // namespace vyn::sfx::report

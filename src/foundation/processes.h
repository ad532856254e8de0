#pragma once
// Facts about other processes: which process created this one, and the executable a process runs.

#include <cstdint>
#include <string>

namespace vyn::os {

// The identifier of the process that created this one, as the system's basic process information
// records it. That process may have ended since. Failure: vyn::exceptions::error with the NT status
// as code and "Unable to retrieve basic process information!".
std::uint32_t parent_process_id();

// The full path of the executable image of a running process. Failures (vyn::exceptions::error
// with the system code): "Unable to open process {}", "Unable to read the image path of process {}".
std::wstring process_image_path(std::uint32_t process_id);

// The executable of the process that created this one. A process of that identifier that was
// started after this one only reuses the number of an ended creator and is refused:
// "Process {} was started after this one". Failures as parent_process_id and process_image_path.
std::wstring parent_process_image_path();

}  // namespace vyn::os

#pragma once
// LC.INI, the file through which the maker's products on one machine share the endpoint
// identifier: section "MID", key "Value", in the common application data folder's
// "Halvard\{086A63F0-6B13-4F29-9695-134E7A01E963}".

#include <string>
#include <string_view>

#include "foundation/files_wrapper.h"

namespace vyn::mi {

// The file's path under the common application data folder.
std::wstring endpoint_file_path(files::CFilesWrapper& files);

// The identifier the file holds; empty when the file, its folder or the value is missing, or the
// file cannot be read (logged at warning level as "Failed to read endpoint id from {}").
std::wstring read_endpoint_file(files::CFilesWrapper& files, const std::wstring& path);

// Sets "Value" to the identifier and "XRef" to "Adapters|MID" in section "MID", keeping the
// file's other sections and keys, and writes the file whole as UTF-8 with a byte-order mark,
// creating its folder when missing. Failures are logged at error level as "Failed to store
// endpoint id to {}" and not raised.
void write_endpoint_file(files::CFilesWrapper& files, const std::wstring& path, std::wstring_view id);

}  // namespace vyn::mi

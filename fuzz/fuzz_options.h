#pragma once
// Sanitizer settings shared by the fuzz targets: a failed allocation returns null, as the heap of
// the stub does, so that a stream asking for a huge dictionary is an error, not a finding.

extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

#pragma once
// A strict reader of JSON text for the tests of analytics records: it lists every member and
// array element in the order of the text, with its path and its value, and raises
// std::runtime_error on anything that is not JSON.
//
//   {"a":{"b":[1,"x"]}}  ->  ("a", object) ("a.b", array) ("a.b[]", 1) ("a.b[]", "x")

#include <string>
#include <string_view>
#include <vector>

namespace vyn::sfx::testing {

struct json_member {
  std::string path;   // names joined by ".", "[]" for an element of an array
  std::string kind;   // "object", "array", "string", "number", "true", "false", "null"
  std::string value;  // a string's decoded bytes (UTF-8), a number's text; empty otherwise
};

std::vector<json_member> json_members(std::string_view text);

// The paths alone, in order.
std::vector<std::string> json_paths(std::string_view text);

// The value of the first member with that path; raises std::runtime_error when there is none.
std::string json_value(std::string_view text, std::string_view path);

// The paths of an analytics record in their order, without those below "main_products", whose
// elements vary; json_record_paths gives a record's paths the same way.
std::vector<std::string> expected_record_paths(bool finish_state, bool hdd);
std::vector<std::string> json_record_paths(std::string_view record);

}  // namespace vyn::sfx::testing

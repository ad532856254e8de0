// verify: the stub's own check of a signed file.

#include <cstdio>

#include "arguments.h"
#include "command.h"
#include "file_io.h"
#include "key_folder.h"
#include "payload/signature_check.h"

namespace vyn::tool {
namespace {

using sfx::signature::block_form;

std::string describe(const sfx::signature::located_block& block) {
  return "version " + std::to_string(block.version) + ", " +
         (block.form == block_form::binary ? "binary" : "text") + " block, " +
         std::to_string(block.signed_length) + " signed bytes";
}

bool verify_one(const std::string& path, unsigned id, const sfx::keys::key_set* set) {
  const auto data = read_file(path);
  sfx::signature::check_result result;
  try {
    result = set ? sfx::signature::check(data, *set) : sfx::signature::check(data, id);
  } catch (const std::invalid_argument&) {
    std::printf("%s: INVALID: the text block holds a character that is not hexadecimal\n", path.c_str());
    return false;
  } catch (const std::exception& e) {
    throw tool_error(exit_key, e.what());
  }
  if (!result.block) {
    std::printf("%s: INVALID: no signature block\n", path.c_str());
    return false;
  }
  if (!result.key) {
    std::printf("%s: INVALID: no key of key set %u accepts the signature (%s)\n", path.c_str(), id,
                describe(*result.block).c_str());
    return false;
  }
  std::printf("%s: valid: key set %u, %s key %zu, %s\n", path.c_str(), id,
              std::string(kind_name(result.key->kind)).c_str(), result.key->index, describe(*result.block).c_str());
  return true;
}

int run(const std::vector<std::string>& raw) {
  const arguments args(raw, {{"set", true}, {"keys", true}});
  if (args.positional().empty()) throw tool_error(exit_usage, "verify needs at least one FILE");
  const unsigned id = args.number("set", 7, 0, 255);
  folder_key_set from_folder;
  if (const auto dir = args.value("keys")) load_set(key_folder(*dir), id, from_folder);
  bool all = true;
  for (const auto& path : args.positional()) {
    all = verify_one(path, id, args.value("keys") ? &from_folder.set : nullptr) && all;
  }
  return all ? exit_ok : exit_not_signed;
}

}  // namespace

const command verify_command{
    "verify", "check the signature block of files as the stub does",
    "usage: sfxtool verify [--set N] [--keys FOLDER] FILE...\n"
    "\n"
    "Checks each FILE with the stub's own verifier (PE rules, block forms, digest versions 2 and 3)\n"
    "and prints the key that accepts it. Exit code 0 when every FILE is validly signed, 1 otherwise.\n"
    "\n"
    "  --set N         key set to check against (default 7; the stub's extended checks use 8)\n"
    "  --keys FOLDER   use the public keys of this key folder instead of the ones built into sfxtool\n",
    run};

}  // namespace vyn::tool

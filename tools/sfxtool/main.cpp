// sfxtool: the maker's tool beside the installer stub. Each command lives in its own file and
// has one entry in the table below.

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "command.h"

namespace {

using namespace vyn::tool;

const command* const commands[] = {&keygen_command, &sign_command,  &verify_command, &pack_command,
                                   &unpack_command, &build_command, &publish_command, &inspect_command};

void print_overview(std::FILE* out) {
  std::fprintf(out, "usage: sfxtool COMMAND [options]   (sfxtool COMMAND --help for details)\n\ncommands:\n");
  for (const command* c : commands) {
    std::fprintf(out, "  %-8s %.*s\n", std::string(c->name).c_str(), static_cast<int>(c->summary.size()),
                 c->summary.data());
  }
  std::fprintf(out,
               "\nexit codes: 0 success, 1 not validly signed (verify), 2 usage error, 3 file error,\n"
               "4 key error, 5 input refused, 6 libcrypto failure, 70 internal error\n");
}

const command* find(const std::string& name) {
  for (const command* c : commands) {
    if (c->name == name) return c;
  }
  return nullptr;
}

int dispatch(const std::vector<std::string>& args) {
  if (args.empty()) {
    print_overview(stderr);
    return exit_usage;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    if (args.size() > 1) {
      if (const command* c = find(args[1])) {
        std::fputs(std::string(c->help).c_str(), stdout);
        return exit_ok;
      }
    }
    print_overview(stdout);
    return exit_ok;
  }
  const command* c = find(args[0]);
  if (!c) {
    std::fprintf(stderr, "sfxtool: unknown command '%s'\n\n", args[0].c_str());
    print_overview(stderr);
    return exit_usage;
  }
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  for (const auto& a : rest) {
    if (a == "--help" || a == "-h") {
      std::fputs(std::string(c->help).c_str(), stdout);
      return exit_ok;
    }
    if (a == "--") break;
  }
  try {
    return c->run(rest);
  } catch (const tool_error& e) {
    std::fprintf(stderr, "sfxtool %s: %s\n", args[0].c_str(), e.what());
    if (e.code() == exit_usage) std::fprintf(stderr, "(sfxtool %s --help shows the usage)\n", args[0].c_str());
    return e.code();
  }
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return dispatch(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "sfxtool: internal error: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "sfxtool: internal error\n");
  }
  return exit_internal;
}

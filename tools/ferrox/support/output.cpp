// SPDX-License-Identifier: MIT
// Faults, JSON, and the check that the output was written.
#include "tools/ferrox/support/output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

namespace ferrox_tool {

int fail(std::string_view message) {
  std::cerr << "ferrox: " << message << '\n';
  return ExitFailed;
}

int refuse(std::string_view message) {
  fail(message);
  return ExitUsage;
}

void add_json_flag(CLI::App* command, bool& json) {
  command->add_flag("--json", json, "Print the result as JSON (docs/json-output.md)");
}

void print_json(const nlohmann::json& document) { std::cout << document.dump() << '\n'; }

// std::cout shares the C library's buffer of standard output, so the C library knows its fate; a
// write that failed on the way (a full disk) leaves its errno behind.
int flush_output() {
  errno = 0;
  std::cout.flush();
  bool written = std::fflush(stdout) == 0 && !std::ferror(stdout) && std::cout.good();
  if (written) return ExitSuccess;
  return fail(std::string("cannot write the output") + (errno ? std::string(": ") + std::strerror(errno) : ""));
}

}  // namespace ferrox_tool

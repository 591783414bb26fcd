// SPDX-License-Identifier: MIT
// The operations run under callgrind: each one called --calls times between two dumps, the
// second named after the operation, after a first call that takes the port's grant or
// maps the window. bench/report.py reads the dumps. Outside valgrind the markers do nothing, so
// the program is an ordinary run of every operation.
#include <valgrind/callgrind.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "bench/operations.h"

namespace {

void Count(const bench::Operation& operation, unsigned calls) {
  bench::Workbench workbench;
  operation.prepare(workbench);
  operation.run(workbench);
  // An unnamed dump starts the count (the report skips it): after CALLGRIND_ZERO_STATS
  // callgrind charges the library one instruction more per batch.
  CALLGRIND_DUMP_STATS;
  for (unsigned call = 0; call < calls; ++call) operation.run(workbench);
  CALLGRIND_DUMP_STATS_AT(operation.name.c_str());
}

// The goals as a JSON object, for the report: {"fGetPortB/driver": 40, ...}.
void PrintGoals() {
  const char* separator = "";
  std::printf("{");
  for (const bench::Operation& operation : bench::operations()) {
    if (!operation.instruction_goal) continue;
    std::printf("%s\"%s\": %u", separator, operation.name.c_str(), *operation.instruction_goal);
    separator = ", ";
  }
  std::printf("}\n");
}

}  // namespace

// instruction_count [--calls N] [NAME...]: the named operations, or all of them.
// instruction_count --goals: the instruction goals.
int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--goals") == 0) {
    PrintGoals();
    return 0;
  }
  unsigned calls = 10;
  int first = 1;
  if (argc > 2 && std::strcmp(argv[1], "--calls") == 0) {
    calls = static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10));
    first = 3;
  }
  bool counted = false;
  for (const bench::Operation& operation : bench::operations()) {
    bool wanted = first == argc;
    for (int i = first; i < argc; ++i) wanted = wanted || operation.name == std::string_view(argv[i]);
    if (!wanted) continue;
    Count(operation, calls);
    counted = true;
  }
  if (!counted) std::fprintf(stderr, "instruction_count: no operation of that name\n");
  return counted ? 0 : 1;
}

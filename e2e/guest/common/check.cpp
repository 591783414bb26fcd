// SPDX-License-Identifier: MIT
// The check tally of the guest test programs.
#include "common/check.h"

#include <cstdio>

namespace e2e {
namespace {

class Tally final : public scenarios::Checks {
 public:
  bool check(bool ok, const char* what, const char* file, int line) override {
    ok ? ++passed : ++failed;
    if (!ok) std::printf("  FAILED %s:%d: %s\n", file, line, what);
    return ok;
  }
  int passed = 0;
  int failed = 0;
};

Tally checks;

}  // namespace

scenarios::Checks& tally() { return checks; }

void scenario(const char* name) {
  std::printf("-- %s\n", name);
  std::fflush(stdout);
}

int finish(const char* program) {
  std::printf("%s %s: %d passed, %d failed\n", program, scenarios::abi(), checks.passed, checks.failed);
  std::fflush(stdout);
  return checks.failed == 0 ? 0 : 1;
}

}  // namespace e2e

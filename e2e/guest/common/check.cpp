// The check tally of the guest test programs.
#include "common/check.h"

#include <cstdio>

namespace e2e {
namespace {
int passed = 0;
int failed = 0;
}  // namespace

const char* abi() {
#if defined(__x86_64__)
  return "x86_64";
#else
  return "i386";
#endif
}

bool check(bool ok, const char* what, const char* file, int line) {
  ok ? ++passed : ++failed;
  if (!ok) std::printf("  FAILED %s:%d: %s\n", file, line, what);
  return ok;
}

bool check_equal(std::uint64_t actual, std::uint64_t expected, const char* what, const char* file, int line) {
  bool ok = actual == expected;
  if (!check(ok, what, file, line))
    std::printf("    actual 0x%" PRIx64 ", expected 0x%" PRIx64 "\n", actual, expected);
  return ok;
}

void scenario(const char* name) {
  std::printf("-- %s\n", name);
  std::fflush(stdout);
}

int finish(const char* program) {
  std::printf("%s %s: %d passed, %d failed\n", program, abi(), passed, failed);
  std::fflush(stdout);
  return failed == 0 ? 0 : 1;
}

}  // namespace e2e

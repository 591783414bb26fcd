// SPDX-License-Identifier: MIT
// How the library's machine scenarios report: every check goes to the runner's own tally, a test
// framework's on the virtual PC, the console's inside the emulated PC.
#pragma once

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <string>

namespace scenarios {

// "x86_64" or "i386": the lines the scenarios print name the ABI they were built for.
inline const char* abi() {
#if defined(__x86_64__)
  return "x86_64";
#else
  return "i386";
#endif
}

class Checks {
 public:
  virtual ~Checks() = default;
  // Records one check; says whether it held.
  virtual bool check(bool ok, const char* what, const char* file, int line) = 0;

  bool equal(std::uint64_t actual, std::uint64_t expected, const char* what, const char* file, int line) {
    if (actual == expected) return check(true, what, file, line);
    char values[64];
    std::snprintf(values, sizeof values, " (actual 0x%" PRIx64 ", expected 0x%" PRIx64 ")", actual, expected);
    return check(false, (std::string(what) + values).c_str(), file, line);
  }
};

}  // namespace scenarios

#define SCENARIO_CHECK(checks, condition) (checks).check((condition), #condition, __FILE__, __LINE__)
#define SCENARIO_EQ(checks, actual, expected) \
  (checks).equal((actual), (expected), #actual " == " #expected, __FILE__, __LINE__)

// A small check tally for the guest test programs: no test framework runs inside the emulated PC.
#pragma once

#include <cinttypes>
#include <cstdint>

namespace e2e {

// "x86_64" or "i386": the ABI this program was built for.
const char* abi();

// Records one check; prints the failing ones with where they are.
bool check(bool ok, const char* what, const char* file, int line);
bool check_equal(std::uint64_t actual, std::uint64_t expected, const char* what, const char* file, int line);

// Announces a scenario in the console log.
void scenario(const char* name);

// Prints "<program> <abi>: N passed, N failed" and gives the exit status.
int finish(const char* program);

}  // namespace e2e

#define CHECK(condition) ::e2e::check((condition), #condition, __FILE__, __LINE__)
#define CHECK_EQ(actual, expected) \
  ::e2e::check_equal((actual), (expected), #actual " == " #expected, __FILE__, __LINE__)

// SPDX-License-Identifier: MIT
// A small check tally for the guest test programs: no test framework runs inside the emulated PC.
#pragma once

#include "tests/scenarios/scenario_checks.h"

namespace e2e {

// The program's tally: every check counts, the failing ones are printed with where they are. The
// scenarios shared with the ordinary suite report to it too.
scenarios::Checks& tally();

// Announces a scenario in the console log.
void scenario(const char* name);

// Prints "<program> <abi>: N passed, N failed" and gives the exit status.
int finish(const char* program);

}  // namespace e2e

#define CHECK(condition) SCENARIO_CHECK(::e2e::tally(), condition)
#define CHECK_EQ(actual, expected) SCENARIO_EQ(::e2e::tally(), actual, expected)

// SPDX-License-Identifier: MIT
// Scenario checks reported as GoogleTest failures, at the scenario's own file and line.
#pragma once

#include <gtest/gtest.h>

#include "tests/scenarios/scenario_checks.h"

class GTestChecks final : public scenarios::Checks {
 public:
  bool check(bool ok, const char* what, const char* file, int line) override {
    if (!ok) ADD_FAILURE_AT(file, line) << what;
    return ok;
  }
};

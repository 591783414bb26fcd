// SPDX-License-Identifier: MIT
// Test fixture: a fresh default virtual PC for every test, its log recording.
#pragma once

#include <gtest/gtest.h>

#include "ferrox/vpc/machine.h"

class VirtualPcTest : public ::testing::Test {
 protected:
  // More entries than any test reads.
  static constexpr std::size_t LogCapacity = 1 << 16;

  // The log records for every test, whatever the test's own SetUp does.
  VirtualPcTest() { pc.log().record(LogCapacity); }
  void SetUp() override { pc.reset(); }

  ferrox::vpc::Machine& pc = ferrox::vpc::Machine::instance();
};

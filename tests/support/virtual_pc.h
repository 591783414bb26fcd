// Test fixture: a fresh default virtual PC for every test.
#pragma once

#include <gtest/gtest.h>

#include "ferrox/vpc/machine.h"

class VirtualPcTest : public ::testing::Test {
 protected:
  void SetUp() override { pc.reset(); }

  vpc::Machine& pc = vpc::Machine::instance();
};

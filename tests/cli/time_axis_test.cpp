// SPDX-License-Identifier: MIT
// The marks of a picture's time axis: round steps from 0, in one unit, however long the recording.
#include <gtest/gtest.h>

#include "tools/ferrox/support/durations.h"

namespace {

using ferrox_tool::time_ticks;

std::vector<std::string> Labels(double end_nanoseconds) {
  std::vector<std::string> labels;
  for (const ferrox_tool::TimeTick& tick : time_ticks(end_nanoseconds, 10)) labels.push_back(tick.label);
  return labels;
}

TEST(TimeAxis, StepsAreRoundAndLabelledInOneUnit) {
  // 174 us: steps of 20 us, not tenths of the end ("17.4 us").
  EXPECT_EQ(Labels(174'000), (std::vector<std::string>{"0 us", "20 us", "40 us", "60 us", "80 us", "100 us", "120 us",
                                                       "140 us", "160 us"}));
  EXPECT_EQ(Labels(1.5e9), (std::vector<std::string>{"0.0 s", "0.2 s", "0.4 s", "0.6 s", "0.8 s", "1.0 s", "1.2 s",
                                                     "1.4 s"}));
  EXPECT_EQ(Labels(3e6), (std::vector<std::string>{"0.0 ms", "0.5 ms", "1.0 ms", "1.5 ms", "2.0 ms", "2.5 ms",
                                                   "3.0 ms"}));
  // An end that is itself a round step ends with its own mark.
  EXPECT_EQ(Labels(10'000).back(), "10 us");
  EXPECT_EQ(Labels(10'000).size(), 11u);
}

TEST(TimeAxis, ARecordingOfOneInstantStillHasAnAxis) {
  std::vector<ferrox_tool::TimeTick> ticks = time_ticks(0, 10);
  ASSERT_FALSE(ticks.empty());
  EXPECT_EQ(ticks.front().nanoseconds, 0);
  EXPECT_LE(ticks.size(), 11u);
}

}  // namespace

// SPDX-License-Identifier: MIT
// Propagating results: an error reaches the caller whole (its place included) and stops the
// function there; a value is moved on, not copied.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ferrox/common/Result.h"

namespace {

using ferrox::Error;
using ferrox::Result;
using ferrox::Status;

Result<int> parse_digit(char c) {
  if (c < '0' || c > '9') return Error{std::string("not a digit: ") + c, 3, "form.txt"};
  return c - '0';
}

// Two digits read in one scope, and how far the function got before an error left it.
Result<int> two_digits(const char* text, int& steps) {
  FERROX_TRY_ASSIGN(int tens, parse_digit(text[0]));
  ++steps;
  FERROX_TRY_ASSIGN(int ones, parse_digit(text[1]));
  ++steps;
  return tens * 10 + ones;
}

Status check_digit(char c, int& steps) {
  FERROX_TRY(parse_digit(c));
  ++steps;
  return ferrox::Done{};
}

TEST(ResultPropagation, ValuesFlowOnAndTheFirstErrorReturnsWithItsPlace) {
  int steps = 0;
  EXPECT_EQ(two_digits("42", steps).value(), 42);
  EXPECT_EQ(steps, 2);

  steps = 0;
  Result<int> failed = two_digits("4x", steps);
  ASSERT_FALSE(failed);
  EXPECT_EQ(steps, 1);
  EXPECT_EQ(failed.error().Text(), "form.txt:3: not a digit: x");

  steps = 0;
  EXPECT_FALSE(check_digit('?', steps));
  EXPECT_EQ(steps, 0);
  EXPECT_TRUE(check_digit('7', steps));
  EXPECT_EQ(steps, 1);
}

Result<std::unique_ptr<int>> boxed(int value) { return std::make_unique<int>(value); }

// A move-only value passes through, which a copy would not compile for.
Result<int> unboxed(int value) {
  FERROX_TRY_ASSIGN(std::unique_ptr<int> box, boxed(value));
  return *box;
}

TEST(ResultPropagation, MovesMoveOnlyValues) { EXPECT_EQ(unboxed(5).value(), 5); }

}  // namespace

// SPDX-License-Identifier: MIT
// A descriptor shared with a forked child: the child may make windows and listen to lines of its
// own through it, but cannot touch its parent's, which stay as they were (on the virtual PC it
// can do neither).
#include <cerrno>

#include "tests/contract/child_process.h"
#include "tests/contract/contract_scenarios.h"
#include "tests/contract/driver.h"

namespace contract {

namespace Request = ferrox::Request;

namespace {

constexpr std::uint32_t BiosDataArea = 0x400;
constexpr std::uint32_t ParentLine = 7;
constexpr std::uint32_t ChildLine = 3;
constexpr int Signal = ferrox::InterruptSignal;

// What the child's requests answered, in the order the parent checks them.
struct ChildAnswers {
  Answer parent_window_unmapped, parent_window_read, parent_window_written;
  Answer parent_line_masked, parent_line_unmasked, line_for_parent;
  Answer own_window_read, own_window_unmapped, own_line_unmasked, own_line_masked;
  bool own_window_mapped = false;
};

ChildAnswers requests_of_the_child(const Driver& driver, std::uint32_t parent_window, std::int32_t parent) {
  ChildAnswers a;
  const std::int32_t self = this_process();
  a.parent_window_unmapped = driver.unmap(parent_window);
  a.parent_window_read = driver.transfer(Request::ReadWindow, BiosDataArea, parent_window, 0, 16);
  a.parent_window_written = driver.transfer(Request::WriteWindow, BiosDataArea, parent_window, 0, 0);
  a.parent_line_masked = driver.irq(Request::IrqMask, self, Signal, ParentLine);
  a.parent_line_unmasked = driver.irq(Request::IrqUnmask, self, Signal, ParentLine);
  a.line_for_parent = driver.irq(Request::IrqUnmask, parent, Signal, ChildLine);
  std::uint32_t own = driver.map(BiosDataArea, 16);
  a.own_window_mapped = own != 0;
  a.own_window_read = driver.transfer(Request::ReadWindow, BiosDataArea, own, 0, 16);
  a.own_window_unmapped = driver.unmap(own);
  a.own_line_unmasked = driver.irq(Request::IrqUnmask, self, Signal, ChildLine);
  a.own_line_masked = driver.irq(Request::IrqMask, self, Signal, ChildLine);
  return a;
}

// Each request answered as the driver does: the child's own windows and lines served, its
// parent's refused.
void served_apart(scenarios::Checks& checks, const ChildAnswers& a) {
  SCENARIO_CHECK(checks, a.parent_window_unmapped.failed_with(EPERM));
  SCENARIO_CHECK(checks, a.parent_window_read.failed_with(EPERM));
  SCENARIO_CHECK(checks, a.parent_window_written.failed_with(EPERM));
  SCENARIO_CHECK(checks, a.parent_line_masked.failed_with(EPERM));
  SCENARIO_CHECK(checks, a.parent_line_unmasked.failed_with(EPERM));
  SCENARIO_CHECK(checks, a.line_for_parent.failed_with(EINVAL));
  SCENARIO_CHECK(checks, a.own_window_mapped);
  SCENARIO_EQ(checks, a.own_window_read.result, 0);
  SCENARIO_EQ(checks, a.own_window_unmapped.result, 0);
  SCENARIO_EQ(checks, a.own_line_unmasked.result, 0);
  SCENARIO_EQ(checks, a.own_line_masked.result, 0);
}

// Each request refused, none served (a refused map leaves its record as it was).
void refused_whole(scenarios::Checks& checks, const ChildAnswers& a) {
  for (const Answer& answer : {a.parent_window_unmapped, a.parent_window_read, a.parent_window_written,
                               a.parent_line_masked, a.parent_line_unmasked, a.line_for_parent, a.own_window_read,
                               a.own_window_unmapped, a.own_line_unmasked, a.own_line_masked})
    SCENARIO_CHECK(checks, answer.failed_with(EBADF));
}

}  // namespace

void windows_and_lines_belong_to_their_process(scenarios::Checks& checks, ForkedChild expected) {
  Driver driver(checks);
  if (!SCENARIO_EQ(checks, driver.open_error(), 0)) return;
  std::uint32_t window = driver.map(BiosDataArea, 256);
  if (!SCENARIO_CHECK(checks, window != 0)) return;
  SCENARIO_EQ(checks, driver.irq(Request::IrqUnmask, this_process(), Signal, ParentLine).result, 0);

  ChildAnswers a;
  const std::int32_t parent = this_process();
  auto child = [&](int channel) { report_to_parent(channel, requests_of_the_child(driver, window, parent)); };
  if (!SCENARIO_CHECK(checks, record_of_a_child(child, a))) return;
  if (expected == ForkedChild::Served)
    served_apart(checks, a);
  else
    refused_whole(checks, a);

  // The parent's window and line are as it left them.
  SCENARIO_EQ(checks, driver.transfer(Request::ReadWindow, BiosDataArea, window, 0, 16).result, 0);
  SCENARIO_EQ(checks, driver.irq(Request::IrqMask, this_process(), Signal, ParentLine).result, 0);
  SCENARIO_EQ(checks, driver.unmap(window).result, 0);
}

}  // namespace contract

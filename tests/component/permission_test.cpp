// SPDX-License-Identifier: MIT
// I/O permissions: the grant table, the privilege level, the reset and HardAccess.
#include <errno.h>

#include <vector>

#include "tests/support/ports_fixture.h"

using ferrox::vpc::Event;
using ferrox::vpc::LogEntry;

namespace {

class PermissionTest : public PortsTest {
 protected:
  // The privilege calls logged so far, as (event, port, count, value) for ioperm and (event, level) for iopl.
  std::vector<std::vector<std::uint32_t>> privilege_calls() const {
    std::vector<std::vector<std::uint32_t>> calls;
    for (const LogEntry& entry : pc.log().entries()) {
      if (entry.event == Event::Ioperm) calls.push_back({entry.port, entry.count, entry.value});
      if (entry.event == Event::Iopl) calls.push_back({entry.value});
    }
    return calls;
  }
};

TEST_F(PermissionTest, EachLowPortAsksForItselfAndOneRaiseOpensTheRest) {
  Component component = make_component();
  const ferrox::Byte* table = permissions(*component);
  EXPECT_TRUE(component->fSetIoPermission(0x378));
  EXPECT_TRUE(component->fSetIoPermission(0x378));
  EXPECT_TRUE(component->fSetIoPermission(0x379));  // covered by the first grant, asked for all the same
  EXPECT_TRUE(component->fSetIoPermission(0x3FF));
  EXPECT_EQ(component->IoplLevel(), 0);
  EXPECT_TRUE(component->fSetIoPermission(0x400));
  EXPECT_EQ(component->IoplLevel(), 3);
  EXPECT_TRUE(component->fSetIoPermission(0x504));
  EXPECT_EQ(privilege_calls(),
            (std::vector<std::vector<std::uint32_t>>{{0x378, 4, 1}, {0x379, 4, 1}, {0x3FF, 4, 1}, {3}}));
  for (unsigned port : {0x378u, 0x379u, 0x3FFu, 0x400u, 0x504u}) EXPECT_EQ(table[port], 1) << port;
  EXPECT_EQ(table[0x37A] + table[0x401] + table[0xFFFF], 0);
}

TEST_F(PermissionTest, RefusedCallsChangeNothing) {
  for (int error : {EPERM, ENOSYS}) {
    refuse(error, error);
    Component component = make_component();
    EXPECT_FALSE(component->fSetIoPermission(0x378));
    EXPECT_FALSE(component->fSetIoPermission(0x500));
    EXPECT_EQ(permissions(*component)[0x378] + permissions(*component)[0x500], 0);
    EXPECT_EQ(component->IoplLevel(), 0);
    component->fSetHardAccess(false);
    EXPECT_TRUE(component->HardAccess());
    EXPECT_EQ(pc.privilege().level(), 0);
  }
}

TEST_F(PermissionTest, TheLastComponentWithdrawsWhatWasRaisedAndGranted) {
  Component component = make_component();
  for (unsigned port : {0x378u, 0xFFF0u, 0x500u, 0xFFF8u, 0xFFFFu})
    component->fSetIoPermission(static_cast<ferrox::Word>(port));
  pc.log().clear();
  component->fResetAllPermissions();
  // The withdrawing calls go in ascending port order and never run past the last port.
  EXPECT_EQ(privilege_calls(),
            (std::vector<std::vector<std::uint32_t>>{
                {0}, {0x500, 4, 0}, {0xFFF0, 4, 0}, {0xFFF8, 4, 0}, {0xFFFF, 1, 0}}));
  for (const LogEntry& entry : pc.log().entries()) EXPECT_EQ(entry.result, 0);
  const ferrox::Byte* table = permissions(*component);
  EXPECT_EQ(table[0x500] + table[0xFFF0] + table[0xFFF8] + table[0xFFFF], 0);
  EXPECT_EQ(table[0x378], 1);  // low grants stay in force, and recorded
  EXPECT_TRUE(pc.privilege().holds(0x378, 4));
  EXPECT_EQ(pc.privilege().level(), 0);
  EXPECT_EQ(component->IoplLevel(), 0);
  // Nothing stale remains: the next direct access raises the level again.
  EXPECT_TRUE(component->fSetIoPermission(0xFFF8));
  EXPECT_EQ(pc.privilege().level(), 3);
  component.reset();
  EXPECT_EQ(pc.privilege().level(), 0);
}

TEST_F(PermissionTest, ProbingHardAccessRaisesTheLevelUntilTheLastComponentGoes) {
  Component component = make_component();
  component->fSetHardAccess(true);
  EXPECT_EQ(pc.privilege().level(), 3);
  EXPECT_EQ(component->IoplLevel(), 0);
  component->fSetHardAccess(false);
  EXPECT_FALSE(component->HardAccess());
  component.reset();
  EXPECT_EQ(pc.privilege().level(), 0);
  EXPECT_EQ(privilege_calls().back(), std::vector<std::uint32_t>{0});
}

TEST_F(PermissionTest, GrantsStayTruthfulWhileAnotherComponentLives) {
  Component survivor = make_component();
  Component raiser = make_component();
  raiser->fSetIoPermission(0x500);
  raiser.reset();
  EXPECT_EQ(pc.privilege().level(), 3);
  EXPECT_EQ(permissions(*survivor)[0x500], 1);
  EXPECT_EQ(logged(Event::Ioperm), 0u);
  // The survivor trusts the entry, and the port still answers (an unheld port would fault).
  survivor->OpenDriver();
  pc.log().clear();
  survivor->fSetHardAccess(false);
  EXPECT_EQ(survivor->fGetPortB(0x500), 0xFF);
  EXPECT_EQ(logged(Event::Request), 0u);
  survivor.reset();
  EXPECT_EQ(pc.privilege().level(), 0);
  EXPECT_FALSE(pc.privilege().holds(0x500, 1));
}

}  // namespace

// SPDX-License-Identifier: MIT
// The component's lifecycle, module-wide records and driver connection.
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "ferrox/component/Ferrox32.h"
#include "ferrox/vpc/kernel/signal_delivery.h"
#include "tests/support/component.h"
#include "tests/support/descriptors.h"
#include "tests/support/heap.h"
#include "tests/support/virtual_pc.h"

using ferrox::TFerrox32;
using ferrox::vpc::Event;

namespace {

// A component created and freed the framework's way.
class CoreTest : public VirtualPcTest {};

struct CountingHandler {
  void OnIrq(ferrox::Word) {}
};
CountingHandler counting;

TEST(RequestCodes, FollowTheLinuxIocLayout) {
  using namespace ferrox::Request;
  EXPECT_EQ(ferrox::MakeRequestCode('h', 4, 8), 0xC0086804u);
  const std::pair<std::uint32_t, std::uint32_t> table[] = {
      {Map, 0xC0106802}, {Unmap, 0xC0046803},     {PortInB, 0xC0086804},   {PortOutB, 0xC0086805},
      {PortInW, 0xC0086806}, {PortOutW, 0xC0086807}, {PortInL, 0xC0086808}, {PortOutL, 0xC0086809},
      {ReadWindow, 0xC004680E}, {WriteWindow, 0xC004680F}, {PciRead, 0xC0406810}, {PciWrite, 0xC0406811},
      {IrqUnmask, 0xC0106812}, {IrqMask, 0xC0106813}, {IrqCount, 0xC0006814}};
  for (auto [built, expected] : table) EXPECT_EQ(built, expected);
}

TEST_F(CoreTest, NewComponentHasItsDefaultsAndTouchesNothing) {
  Component component = make_component();
  EXPECT_TRUE(component->HardAccess());
  EXPECT_EQ(component->LPTNumber(), 1);
  EXPECT_EQ(component->LPTBase(), 0x378);
  EXPECT_EQ(component->LPTCount(), 0);
  EXPECT_FALSE(component->DriverActive());
  EXPECT_EQ(component->DriverHandle(), 0);
  EXPECT_FALSE(component->Mapped());
  EXPECT_EQ(component->IoplLevel(), 0);
  for (int line = 0; line < ferrox::IrqLineCount; ++line) {
    EXPECT_TRUE(component->fGetMasked(static_cast<ferrox::Byte>(line)));
    EXPECT_EQ(component->GetHandledCounter(static_cast<ferrox::Byte>(line)), 0u);
  }
  const auto* permissions = static_cast<const std::uint8_t*>(component->GetDebugCode());
  ASSERT_NE(permissions, nullptr);
  for (int port = 0; port <= 0xFFFF; ++port) ASSERT_EQ(permissions[port], 0) << "port " << port;
  EXPECT_TRUE(pc.log().entries().empty());
}

TEST_F(CoreTest, OpenDriverOpensTheNodeReadOnly) {
  Component component = make_component();
  component->OpenDriver();
  EXPECT_TRUE(component->DriverActive());
  EXPECT_GT(component->DriverHandle(), 0);
  EXPECT_TRUE(component->HardAccess());
  auto opens = pc.log().of(Event::Open);
  ASSERT_EQ(opens.size(), 1u);
  EXPECT_EQ(opens[0].path, "/dev/ferrox");
  EXPECT_EQ(opens[0].value, static_cast<std::uint32_t>(O_RDONLY));
}

TEST_F(CoreTest, FailedOpenLeavesTheDriverClosed) {
  for (int refusal : {ENOENT, EACCES}) {
    pc.reset();
    pc.faults().refuse_open(refusal);
    Component component = make_component();
    component->OpenDriver();
    EXPECT_FALSE(component->DriverActive());
    EXPECT_EQ(component->DriverHandle(), -1);
    EXPECT_TRUE(component->HardAccess());
    EXPECT_EQ(component->LPTCount(), 0);
    EXPECT_EQ(component->LPTBase(), 0x378);
    EXPECT_EQ(component->LPTNumber(), 1);
    component->CloseDriver();
    EXPECT_TRUE(pc.log().of(Event::Close).empty());
  }
}

TEST_F(CoreTest, SecondOpenDoesNothing) {
  Component component = make_component();
  component->OpenDriver();
  int handle = component->DriverHandle();
  component->OpenDriver();
  EXPECT_EQ(component->DriverHandle(), handle);
  EXPECT_EQ(pc.log().of(Event::Open).size(), 1u);
}

// The driver path is the one an open gives, whatever was chosen before; closing chooses it too.
TEST_F(CoreTest, OpenAndCloseChooseTheDriverPathEvenWhenTheOpenFails) {
  for (bool refused : {false, true}) {
    pc.reset();
    if (refused) pc.faults().refuse_open(ENOENT);
    Component component = make_component();
    component->fSetHardAccess(false);
    ASSERT_FALSE(component->HardAccess());
    component->OpenDriver();
    EXPECT_EQ(component->DriverActive(), !refused);
    EXPECT_TRUE(component->HardAccess()) << (refused ? "after a refused open" : "after an open");
    component->fSetHardAccess(false);
    component->CloseDriver();
    EXPECT_TRUE(component->HardAccess()) << (refused ? "closing a driver never opened" : "closing");
  }
}

// An open driver is left as it is: the lines it listens on, their counts and the port selected.
TEST_F(CoreTest, ASecondOpenKeepsCountersMasksAndTheSelectedPort) {
  ferrox::vpc::MachineDescription machine = ferrox::vpc::default_machine();
  machine.bios.lpt = {0x378, 0x278, 0};
  pc.reset(machine);
  Component component = make_component();
  component->OpenDriver();
  component->fSetLPTNumber(2);
  component->SetOnHwInterrupt(ferrox::TInterruptHandler::Bind<&CountingHandler::OnIrq>(&counting));
  component->UnmaskInterrupt(3);
  std::uint32_t cookie = pc.log().requests().back().sent_as<ferrox::TIrqRequest>().Component;
  ferrox::vpc::send_driver_signal(ferrox::InterruptSignal, static_cast<std::int32_t>(cookie), 3);
  ASSERT_EQ(component->GetHandledCounter(3), 1u);
  pc.log().clear();

  component->OpenDriver();
  EXPECT_FALSE(component->fGetMasked(3));
  EXPECT_EQ(component->GetHandledCounter(3), 1u);
  EXPECT_EQ(component->LPTNumber(), 2);
  EXPECT_EQ(component->LPTBase(), 0x278);
  EXPECT_TRUE(pc.log().entries().empty());
}

// A line unmasked while the driver was closed reached no driver, so an open starts it masked
// and counting afresh, telling the driver nothing; unmasking it then asks the driver.
TEST_F(CoreTest, OpenMasksTheLinesUnmaskedWhileTheDriverWasClosed) {
  Component component = make_component();
  component->SetOnHwInterrupt(ferrox::TInterruptHandler::Bind<&CountingHandler::OnIrq>(&counting));
  component->UnmaskInterrupt(5);
  ASSERT_FALSE(component->fGetMasked(5));
  component->OpenDriver();
  EXPECT_TRUE(component->fGetMasked(5));
  EXPECT_EQ(component->GetHandledCounter(5), 0u);
  for (std::uint32_t number : pc.log().request_numbers()) EXPECT_NE(number, 19u) << "no mask request";
  pc.log().clear();
  component->UnmaskInterrupt(5);
  EXPECT_EQ(pc.log().request_numbers(), std::vector<std::uint32_t>{18});
}

TEST_F(CoreTest, CloseDriverOnANeverOpenedComponentSendsAndClosesNothing) {
  Component component = make_component();
  component->CloseDriver();
  EXPECT_FALSE(component->DriverActive());
  EXPECT_TRUE(component->HardAccess());
  EXPECT_TRUE(pc.log().entries().empty());
}

TEST_F(CoreTest, CloseKeepsTheHandleAndReopenWorks) {
  Component component = make_component();
  component->OpenDriver();
  int handle = component->DriverHandle();
  component->CloseDriver();
  EXPECT_FALSE(component->DriverActive());
  EXPECT_EQ(component->DriverHandle(), handle);
  component->OpenDriver();
  EXPECT_TRUE(component->DriverActive());
  auto closes = pc.log().of(Event::Close);
  ASSERT_EQ(closes.size(), 1u);
  EXPECT_EQ(closes[0].fd, handle);
}

TEST_F(CoreTest, DestroyingAnOpenComponentClosesItsDescriptor) {
  Component component = make_component();
  component->OpenDriver();
  int handle = component->DriverHandle();
  component.reset();
  auto closes = pc.log().of(Event::Close);
  ASSERT_EQ(closes.size(), 1u);
  EXPECT_EQ(closes[0].fd, handle);
  EXPECT_EQ(pc.node().open_files(), 0u);
}

TEST_F(CoreTest, ManyOpenCloseCyclesLeaveNoDescriptorBehind) {
  int before = open_descriptor_count();
  for (int cycle = 0; cycle < 200; ++cycle) {
    Component component = make_component();
    component->OpenDriver();
    component->CloseDriver();
    component->OpenDriver();  // left open: destruction closes it
  }
  EXPECT_EQ(open_descriptor_count(), before);
}

// A program the application runs (system, popen) must not inherit the hardware.
TEST_F(CoreTest, ProgramsTheApplicationRunsDoNotInheritTheDriver) {
  Component component = make_component();
  component->OpenDriver();
  ASSERT_TRUE(component->DriverActive());
  EXPECT_EQ(pc.log().of(Event::Open)[0].value, static_cast<std::uint32_t>(O_RDONLY)) << "the open keeps its flags";
  std::string held = "/proc/self/fd/" + std::to_string(component->DriverHandle());
  EXPECT_EQ(std::system(("exec test ! -e " + held).c_str()), 0) << "the shell's own test holds " << held;
}

TEST_F(CoreTest, DescriptorZeroIsAWorkingDriverAndIsClosed) {
  int saved_stdin = dup(0);
  ASSERT_GE(saved_stdin, 0);
  close(0);
  Component component = make_component();
  component->OpenDriver();
  bool active = component->DriverActive();
  int handle = component->DriverHandle();
  component->CloseDriver();
  bool zero_still_open = fcntl(0, F_GETFD) != -1;
  dup2(saved_stdin, 0);
  close(saved_stdin);
  EXPECT_EQ(handle, 0);
  EXPECT_TRUE(active);
  EXPECT_FALSE(zero_still_open);
}

TEST_F(CoreTest, ComponentsShareTheModuleRecordsUntilTheLastGoes) {
  Component first = make_component();
  Component second = make_component();
  EXPECT_EQ(first->GetDebugCode(), second->GetDebugCode());
  auto* permissions = static_cast<std::uint8_t*>(second->GetDebugCode());
  first.reset();
  // Still allocated for the living component (ASan reports a use after free otherwise).
  permissions[0xFFFF] = 0;
  EXPECT_EQ(second->GetDebugCode(), permissions);
  Component third = make_component();
  EXPECT_EQ(third->GetDebugCode(), permissions);
}

// The records (some 128 KiB) go with the last component, not before.
TEST_F(CoreTest, TheLastComponentReleasesTheModuleRecords) {
  constexpr std::size_t RecordBytes = 65552 + 8 + 256 + 65536;
  constexpr std::size_t Slack = heap_count_is_exact ? 0 : 4096;
  make_component();  // whatever the first component of a program allocates for good
  std::size_t before = heap_in_use();
  Component first = make_component();
  Component second = make_component();
  first.reset();
  EXPECT_GE(heap_in_use() + Slack, before + RecordBytes) << "released while a component lives";
  second.reset();
  EXPECT_LE(heap_in_use(), before + Slack);
}

TEST_F(CoreTest, GetDebugCodeIsStableAcrossOpenAndClose) {
  Component component = make_component();
  void* table = component->GetDebugCode();
  component->OpenDriver();
  EXPECT_EQ(component->GetDebugCode(), table);
  component->CloseDriver();
  EXPECT_EQ(component->GetDebugCode(), table);
}

TEST_F(CoreTest, OwnedComponentsAreDestroyedWithTheirOwner) {
  ferrox::framework::TComponent* owner = ferrox::framework::TComponent::Create<ferrox::framework::TComponent>(nullptr);
  auto* child = ferrox::framework::TComponent::Create<TFerrox32>(owner);
  child->OpenDriver();
  ASSERT_EQ(owner->Components().size(), 1u);
  owner->Free();
  EXPECT_EQ(pc.log().of(Event::Close).size(), 1u);
  EXPECT_EQ(pc.node().open_files(), 0u);
}

}  // namespace

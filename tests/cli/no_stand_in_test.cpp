// SPDX-License-Identifier: MIT
// Without --virtual the tool works on this PC's hardware or fails: the virtual PC never stands in
// for a driver that is not there, so a script reading standard output never takes it for this PC.
#include <gtest/gtest.h>

#include "tests/cli/fake_system.h"
#include "tests/cli/support.h"

namespace {

using namespace cli;

const char* const HardwareCommands[] = {
    "port read 0x378",      "port read --direct 0x378", "port write 0x378=0x55", "port fifo-read 0x300 2",
    "mem read 0x400 16",    "mem write 0x4f0.b=1",      "pci list",              "pci dump",
    "pci read 00:00.0 00.w", "pci write 00:02.0 04.w=7", "irq count 7",           "irq watch 0 --count 1",
    "lpt list",             "lpt status",               "lpt strobe",            "lpt --port 2 set 2 high",
    "trace -- true",        "record -o /dev/null -- true"};

TEST(CliNoStandIn, EveryHardwareCommandWithoutTheDriverFailsWithTheReason) {
  FakeSystem system;
  for (const char* command : HardwareCommands) {
    Outcome run = system.Ferrox(command);
    EXPECT_EQ(run.status, 1) << command << "\n" << run.err;
    EXPECT_EQ(run.out, "") << command;
    EXPECT_EQ(run.err,
              "ferrox: no usable driver: module: ferrox is not installed for 6.1.0-test "
              "(mend: sudo apt-get install ferrox-dkms linux-headers-6.1.0-test); "
              "--virtual runs on the virtual PC instead, ferrox doctor tells more\n")
        << command;
  }
}

TEST(CliNoStandIn, TheReasonIsTheFirstThingInTheWay) {
  FakeSystem system;
  system.write("/lib/modules/6.1.0-test/updates/dkms/ferrox.ko", "module");
  EXPECT_NE(system.Ferrox("pci list").err.find("no usable driver: module: ferrox is built for 6.1.0-test "
                                               "(/lib/modules/6.1.0-test/updates/dkms/ferrox.ko) but not loaded "
                                               "(mend: sudo modprobe ferrox)"),
            std::string::npos);
  system.write("/proc/modules", "ferrox 24576 0 - Live 0x0000000000000000\n");
  EXPECT_NE(system.Ferrox("pci list").err.find("no usable driver: node: /dev/ferrox is not there "
                                               "(mend: sudo udevadm trigger --subsystem-match=misc)"),
            std::string::npos);
}

TEST(CliNoStandIn, TheVirtualPcWhenAskedForByOptionVariableOrMachineFile) {
  FakeSystem system;
  for (const char* asked : {"--virtual lpt list", "--machine " FERROX_SOURCE_DIR "/examples/default-machine.toml lpt list"}) {
    Outcome run = system.Ferrox(asked);
    EXPECT_EQ(run.status, 0) << asked << "\n" << run.err;
    EXPECT_EQ(run.out, "LPT1 at 0x378\nLPT2 at 0x278\n") << asked;
  }
  Outcome by_variable = Shell("FERROX_VIRTUAL=1 FERROX_SYSTEM_ROOT=" + system.root() + " " FERROX_TOOL " lpt list");
  EXPECT_EQ(by_variable.status, 0) << by_variable.err;
  EXPECT_EQ(by_variable.err.rfind("ferrox: on the virtual PC, built-in machine\n", 0), 0u) << by_variable.err;
  EXPECT_EQ(Shell("FERROX_VIRTUAL=0 FERROX_SYSTEM_ROOT=" + system.root() + " " FERROX_TOOL " lpt list").status, 1)
      << "FERROX_VIRTUAL=0 asks for the hardware";
}

TEST(CliNoStandIn, TheTourStaysOnTheVirtualPcAndSaysSo) {
  FakeSystem system;
  Outcome tour = system.Ferrox("demo");
  EXPECT_EQ(tour.status, 0) << tour.err;
  EXPECT_EQ(tour.out.rfind("The tour runs on the built-in virtual PC, not on this PC's hardware", 0), 0u) << tour.out.substr(0, 200);
}

}  // namespace

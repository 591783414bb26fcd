// SPDX-License-Identifier: MIT
// ferrox doctor on systems modelled by a tree of their files, and on the virtual PC: each check's
// verdict, why and mend, line by line, and the exit status that says whether the hardware is reachable.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>

#include "tests/cli/fake_system.h"
#include "tests/cli/support.h"

namespace {

using namespace cli;

// The line of one check ("problem  module: ..."), or empty.
std::string CheckLine(const std::string& out, const std::string& check) {
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);)
    if (line.size() > 9 && line.compare(9, check.size() + 2, check + ": ") == 0) return line;
  return "";
}

const char* const Unloaded = "ferrox 24576 0 - Live 0x0000000000000000\n";

TEST(CliDoctor, WithoutTheModuleEveryDriverCheckSaysWhereItStands) {
  FakeSystem system;
  Outcome run = system.Ferrox("doctor");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "ferrox: the hardware cannot be reached from here: the problems above say why\n");
  EXPECT_EQ(CheckLine(run.out, "virtual PC"), "ok       virtual PC: not in front: what follows is this PC's");
  EXPECT_EQ(CheckLine(run.out, "kernel"), "ok       kernel: Linux 6.1.0-test on x86_64");
  EXPECT_EQ(CheckLine(run.out, "module"),
            "problem  module: ferrox is not installed for 6.1.0-test (mend: sudo apt-get install ferrox-dkms linux-headers-6.1.0-test)");
  EXPECT_EQ(CheckLine(run.out, "signatures"),
            "ok       signatures: no EFI Secure Boot variable, module.sig_enforce is off: unsigned modules load");
  EXPECT_EQ(CheckLine(run.out, "lockdown"), "ok       lockdown: none: nothing is locked down");
  EXPECT_EQ(CheckLine(run.out, "node"), "problem  node: /dev/ferrox is not there (mend: sudo modprobe ferrox)");
  EXPECT_EQ(CheckLine(run.out, "access"), "ok       access: root holds CAP_SYS_RAWIO");
  EXPECT_EQ(CheckLine(run.out, "direct access"), "ok       direct access: iopl and ioperm are open to this process");
  EXPECT_EQ(CheckLine(run.out, "open"), "") << "another system's files: nothing of this one is tried";
}

TEST(CliDoctor, TheModuleBuiltForAnotherKernelOrLoaded) {
  FakeSystem system;
  system.write("/lib/modules/6.1.0-old/updates/dkms/ferrox.ko.xz", "module");
  EXPECT_EQ(CheckLine(system.Ferrox("doctor").out, "module"),
            "problem  module: ferrox is built for 6.1.0-old only, not for the running 6.1.0-test "
            "(mend: sudo apt-get install linux-headers-6.1.0-test && sudo dkms autoinstall)");
  system.load_module();
  Outcome run = system.Ferrox("doctor");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(CheckLine(run.out, "module"), "ok       module: ferrox is loaded");
  EXPECT_EQ(CheckLine(run.out, "node"), "ok       node: /dev/ferrox -rw-rw---- root ferrox");
  EXPECT_EQ(CheckLine(run.out, "access"), "ok       access: root holds CAP_SYS_RAWIO and may open /dev/ferrox");
}

TEST(CliDoctor, ASignatureTheKernelRequiresAndTheModuleLacks) {
  FakeSystem system;
  system.write("/lib/modules/6.1.0-test/updates/dkms/ferrox.ko", "an unsigned module");
  system.write("/sys/module/module/parameters/sig_enforce", "Y\n");
  Outcome enforced = system.Ferrox("doctor");
  EXPECT_EQ(CheckLine(enforced.out, "module"),
            "problem  module: ferrox is built for 6.1.0-test but unsigned, and this kernel loads signed modules only "
            "(mend: sudo mokutil --import /var/lib/dkms/mok.pub, reboot, then sudo dkms autoinstall --force)");
  EXPECT_EQ(CheckLine(enforced.out, "signatures"),
            "problem  signatures: no EFI Secure Boot variable, module.sig_enforce is on: the kernel loads signed modules only, "
            "and the module is not signed (mend: sudo mokutil --import /var/lib/dkms/mok.pub, reboot, then sudo dkms autoinstall --force)");

  system.write("/sys/module/module/parameters/sig_enforce", "N\n");
  system.write("/sys/firmware/efi/efivars/SecureBoot-8be4df61-93ca-11d2-aa0d-e7bc5d8ea2a0", std::string("\x06\0\0\0\x01", 5));
  system.write("/lib/modules/6.1.0-test/updates/dkms/ferrox.ko", "a module\n~Module signature appended~\n");
  Outcome signed_module = system.Ferrox("doctor");
  EXPECT_EQ(CheckLine(signed_module.out, "signatures"),
            "ok       signatures: Secure Boot is on: the kernel loads signed modules only, and the module is signed");
  EXPECT_EQ(CheckLine(signed_module.out, "module"),
            "problem  module: ferrox is built for 6.1.0-test (/lib/modules/6.1.0-test/updates/dkms/ferrox.ko) but not loaded "
            "(mend: sudo modprobe ferrox)");
}

TEST(CliDoctor, LockdownForbidsTheDriverAndThePortInstructions) {
  FakeSystem system;
  system.load_module();
  system.write("/sys/kernel/security/lockdown", "none [integrity] confidentiality\n");
  Outcome run = system.Ferrox("doctor");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(CheckLine(run.out, "lockdown"),
            "problem  lockdown: integrity: the kernel refuses the driver's open, iopl and ioperm, /dev/port, /dev/mem and "
            "PCI configuration writes (PCI reads through sysfs stay possible) "
            "(mend: boot with Secure Boot off, or sudo mokutil --disable-validation and reboot)");
  EXPECT_EQ(CheckLine(run.out, "direct access").rfind("problem  direct access: iopl and ioperm are refused: the kernel is locked down", 0), 0u);
}

// Locked down, the kernel loads signed modules only, as with module.sig_enforce; lockdown asked for
// on the command line is mended there, not in the firmware.
TEST(CliDoctor, ALockedDownKernelRefusesAnUnsignedModule) {
  FakeSystem system;
  system.write("/lib/modules/6.1.0-test/updates/dkms/ferrox.ko", "an unsigned module");
  system.write("/sys/kernel/security/lockdown", "none [integrity] confidentiality\n");
  Outcome secure_boot = system.Ferrox("doctor");
  EXPECT_EQ(CheckLine(secure_boot.out, "module"),
            "problem  module: ferrox is built for 6.1.0-test but unsigned, and this kernel loads signed modules only "
            "(mend: sudo mokutil --import /var/lib/dkms/mok.pub, reboot, then sudo dkms autoinstall --force)");
  EXPECT_EQ(CheckLine(secure_boot.out, "signatures"),
            "problem  signatures: no EFI Secure Boot variable, the kernel is locked down: the kernel loads signed modules "
            "only, and the module is not signed (mend: sudo mokutil --import /var/lib/dkms/mok.pub, reboot, then sudo "
            "dkms autoinstall --force)");
  EXPECT_NE(CheckLine(secure_boot.out, "lockdown").find("(mend: boot with Secure Boot off"), std::string::npos);

  system.write("/proc/cmdline", "BOOT_IMAGE=/boot/vmlinuz root=/dev/sda1 ro lockdown=integrity quiet\n");
  Outcome asked = system.Ferrox("doctor");
  EXPECT_NE(CheckLine(asked.out, "lockdown").find("(mend: boot without lockdown= on the kernel's command line)"),
            std::string::npos) << asked.out;
  EXPECT_EQ(CheckLine(asked.out, "direct access"),
            "problem  direct access: iopl and ioperm are refused: the kernel is locked down "
            "(mend: boot without lockdown= on the kernel's command line)");
}

TEST(CliDoctor, AUserOutsideTheNodesGroupIsToldWhichGroupThenAMemberGetsIn) {
  FakeSystem system;
  system.load_module();
  std::string group = std::to_string(system.node_group() + 1);
  system.write("/proc/self/status", "Uid:\t1000\t1000\t1000\t1000\nGid:\t" + group + "\t" + group + "\t" + group + "\t" + group +
                                        "\nGroups:\t" + group + "\nCapEff:\t0000000000020000\nSeccomp:\t0\n");
  system.write("/etc/passwd", "root:x:0:0::/root:/bin/sh\nann:x:1000:1000::/home/ann:/bin/sh\n");
  Outcome outside = system.Ferrox("doctor");
  EXPECT_EQ(outside.status, 1);
  EXPECT_EQ(CheckLine(outside.out, "access"),
            "problem  access: ann may not open /dev/ferrox: it is not in the group ferrox (mend: sudo usermod -aG ferrox ann, then log in again)");
  system.write("/proc/self/status", "Uid:\t1000\t1000\t1000\t1000\nGid:\t" + group + "\t" + group + "\t" + group + "\t" + group +
                                        "\nGroups:\t" + group + " " + std::to_string(system.node_group()) +
                                        "\nCapEff:\t0000000000020000\nSeccomp:\t0\n");
  Outcome member = system.Ferrox("doctor");
  EXPECT_EQ(member.status, 0) << member.out;
  EXPECT_EQ(CheckLine(member.out, "access"), "ok       access: ann holds CAP_SYS_RAWIO and may open /dev/ferrox");
}

TEST(CliDoctor, ACapabilityMissingOrASeccompFilter) {
  FakeSystem system;
  system.load_module();
  system.write("/proc/self/status", "Uid:\t0\t0\t0\t0\nGid:\t0\t0\t0\t0\nGroups:\t\nCapEff:\t00000000fffdffff\nSeccomp:\t0\n");
  Outcome without = system.Ferrox("doctor");
  EXPECT_EQ(without.status, 1);
  EXPECT_EQ(CheckLine(without.out, "access"),
            "problem  access: root lacks CAP_SYS_RAWIO, which the driver asks of every open "
            "(mend: sudo setcap cap_sys_rawio+ep $(command -v ferrox), or run as root)");
  EXPECT_EQ(CheckLine(without.out, "direct access").rfind("problem  direct access: iopl and ioperm need CAP_SYS_RAWIO", 0), 0u);
  system.write("/proc/self/status", "Uid:\t0\t0\t0\t0\nGid:\t0\t0\t0\t0\nGroups:\t\nCapEff:\t000001ffffffffff\nSeccomp:\t2\n");
  Outcome filtered = system.Ferrox("doctor");
  EXPECT_EQ(filtered.status, 0) << "the driver's path stays open";
  EXPECT_EQ(CheckLine(filtered.out, "direct access"),
            "warning  direct access: a seccomp filter is in place: a container's default profile refuses iopl and ioperm "
            "(mend: run the container with --cap-add SYS_RAWIO --security-opt seccomp=unconfined)");
}

TEST(CliDoctor, ParallelPortsTheirHoldersAndAPciCard) {
  FakeSystem system;
  std::string memory(0x410, '\0');
  memory.replace(0x408, 4, std::string("\x78\x03\x78\x02", 4));
  system.write("/dev/mem", memory);
  system.write("/proc/ioports", "0000-0cf7 : PCI Bus 0000:00\n  0378-037a : parport0\n  03c0-03df : vga+\n"
                                "d000-dfff : PCI Bus 0000:03\n  d000-d007 : 0000:03:00.0\n    d000-d002 : parport1\n"
                                "  d008-d00f : 0000:03:00.1\n");
  system.write("/proc/interrupts", "           CPU0       CPU1\n  5:          0          0   IO-APIC   5-edge      snd\n"
                                   "  7:         12          0   IO-APIC   7-edge      parport0\n");
  system.write("/sys/bus/pci/devices/0000:03:00.0/class", "0x070102\n");
  system.write("/sys/bus/pci/devices/0000:03:00.0/resource",
               "0x00000000fe000000 0x00000000fe000fff 0x0000000000040200\n"
               "0x000000000000d000 0x000000000000d007 0x0000000000040101\n");
  system.write("/sys/bus/pci/devices/0000:03:00.0/irq", "16\n");
  system.write("/sys/bus/pci/devices/0000:03:00.1/class", "0x070100\n");
  system.write("/sys/bus/pci/devices/0000:03:00.1/resource", "0x000000000000d008 0x000000000000d00f 0x0000000000040101\n");
  system.write("/sys/bus/pci/devices/0000:00:02.0/class", "0x030000\n");
  Outcome run = system.Ferrox("doctor");
  EXPECT_EQ(CheckLine(run.out, "LPT1"),
            "warning  LPT1: at 0x378, IRQ 7: 0x378-0x37a held by parport0, IRQ 7 by parport0; that driver works the port too, "
            "and takes its interrupts (mend: sudo modprobe -r lp ppdev parport_pc)");
  EXPECT_EQ(CheckLine(run.out, "LPT2"),
            "warning  LPT2: at 0x278, IRQ 5: IRQ 5 by snd; that driver works the port too, and takes its interrupts "
            "(mend: unbind the driver that holds it)");
  EXPECT_EQ(CheckLine(run.out, "PCI 0000:03:00.0"),
            "warning  PCI 0000:03:00.0: at 0xd000, IRQ 16 (not in the BIOS data area): 0xd000-0xd002 held by parport1; "
            "that driver works the port too, and takes its interrupts; drive it with: ferrox lpt status --base 0xd000 "
            "(mend: sudo modprobe -r lp ppdev parport_pc)");
  EXPECT_EQ(CheckLine(run.out, "PCI 0000:03:00.1"),
            "ok       PCI 0000:03:00.1: at 0xd008 (not in the BIOS data area): no kernel driver holds it; "
            "drive it with: ferrox lpt status --base 0xd008")
      << "a function's own BAR in /proc/ioports is no driver's hold";
  EXPECT_EQ(CheckLine(run.out, "parallel ports"), "") << "the list was read";
}

// The port driver holds the port in /proc/ioports; the printer driver and ppdev use it through the
// port driver, and only /proc/sys/dev/parport names them.
TEST(CliDoctor, ThePrinterDriverOnTheKernelsPortDriverIsNamed) {
  FakeSystem system;
  std::string memory(0x410, '\0');
  memory.replace(0x408, 2, std::string("\x78\x03", 2));
  system.write("/dev/mem", memory);
  system.write("/proc/ioports", "0000-0cf7 : PCI Bus 0000:00\n  0378-037a : parport0\n  037b-037f : parport0\n  0778-077a : parport0\n");
  system.write("/proc/sys/dev/parport/parport0/devices/active", "lp\n");
  system.write("/proc/sys/dev/parport/parport0/devices/lp/timeslice", "200\n");
  system.write("/proc/sys/dev/parport/parport0/devices/ppdev0/timeslice", "200\n");
  EXPECT_EQ(CheckLine(system.Ferrox("doctor").out, "LPT1"),
            "warning  LPT1: at 0x378, IRQ 7: 0x378-0x37a held by parport0 (used by lp, ppdev0); "
            "that driver works the port too, and takes its interrupts (mend: sudo modprobe -r lp ppdev parport_pc)");
}

TEST(CliDoctor, OnTheVirtualPcWhatItsMachineAnswers) {
  std::filesystem::path machine = TempFile("doctor-refused.toml");
  std::ofstream(machine) << "privilege = { iopl = \"EPERM\", ioperm = \"EPERM\" }\n";
  Outcome run = Ferrox("--machine " + machine.string() + " doctor");
  EXPECT_EQ(run.status, 0) << run.err << run.out;
  EXPECT_EQ(CheckLine(run.out, "virtual PC"),
            "warning  virtual PC: in front (machine " + machine.string() +
                "): what follows is its machine, not this PC's (mend: ferrox doctor without --virtual, for this PC)");
  EXPECT_EQ(CheckLine(run.out, "open"), "ok       open: /dev/ferrox opens for this process");
  EXPECT_EQ(CheckLine(run.out, "direct access"),
            "problem  direct access: iopl was refused: Operation not permitted (mend: run as root, outside any seccomp sandbox)");
  EXPECT_EQ(CheckLine(run.out, "LPT1"), "ok       LPT1: at 0x378, IRQ 7, the virtual PC's");
  EXPECT_EQ(CheckLine(run.out, "module"), "") << "the host's module says nothing of the virtual PC";
  std::filesystem::remove(machine);
}

TEST(CliDoctor, JsonFollowsTheSchema) {
  FakeSystem system;
  Outcome run = system.Ferrox("doctor --json");
  EXPECT_EQ(run.status, 1);
  nlohmann::json document = nlohmann::json::parse(run.out);
  EXPECT_EQ(document["reachable"], false);
  EXPECT_EQ(document["virtual_pc"], false);
  EXPECT_EQ(document["checks"][2], (nlohmann::json{{"check", "module"}, {"verdict", "problem"},
                                                   {"why", "ferrox is not installed for 6.1.0-test"},
                                                   {"mend", "sudo apt-get install ferrox-dkms linux-headers-6.1.0-test"}}));
  EXPECT_EQ(document["checks"][1]["mend"], nullptr);
}

}  // namespace

// SPDX-License-Identifier: MIT
// pci dump and pci list against the real lspci: lspci -F reads the tool's dumps as its own and
// decodes from them the same functions, names and regions.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "tests/cli/support.h"

namespace {

using namespace cli;

class CliLspci : public testing::Test {
 protected:
  void SetUp() override {
    if (Shell("lspci --version").status != 0) GTEST_SKIP() << "no lspci here (Debian's pciutils)";
  }
  void TearDown() override { std::filesystem::remove(dump_); }

  // The tool's dump of every function at a depth, and what lspci makes of that file.
  std::string Dump(const std::string& depth) {
    Outcome ours = Ferrox(machine_ + "pci dump " + depth);
    EXPECT_EQ(ours.status, 0) << ours.err;
    std::ofstream(dump_) << ours.out;
    return ours.out;
  }
  std::string Lspci(const std::string& options) {
    Outcome theirs = Shell("lspci -F " + dump_.string() + " " + options);
    EXPECT_EQ(theirs.status, 0) << theirs.err;
    return theirs.out;
  }

  // Runs on a machine of one function with capabilities and a 64-bit region above 4 GiB.
  void UseCapableMachine() {
    std::filesystem::path file = ScratchDirectory() / "capable.toml";
    std::ofstream(file) << R"([[pci.function]]
slot = "00:05.0"
regions = [0x4000, 0, 0x40000000, 0, 32, 0, 0]
config = """
00: 86 80 d3 10 06 04 10 00 00 00 00 02 10 40 00 00
10: 00 40 bf fe 00 00 00 00 0c 00 00 00 08 00 00 00
20: 01 d0 00 00 00 00 00 00 00 00 00 00 86 80 00 a0
30: 00 00 00 00 40 00 00 00 00 00 00 00 0a 01 00 00
40: 01 50 23 c8 00 00 00 00 00 00 00 00 00 00 00 00
50: 05 60 80 00 00 00 00 00 00 00 00 00 00 00 00 00
60: 10 70 02 00 00 00 00 00 00 00 00 00 00 00 00 00
70: 11 80 04 00 03 00 00 00 03 20 00 00 00 00 00 00
80: 09 00 0c 00 00 00 00 00 00 00 00 00 00 00 00 00
"""
)";
    machine_ = "--machine " + file.string() + " ";
  }

  std::string machine_;
  std::filesystem::path dump_ = TempFile("cli_lspci_dump");
};

// Lines without the sizes that lspci cannot know from a dump.
std::vector<std::string> WithoutSizes(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (std::size_t size = line.find(" [size="); size != std::string::npos) line.erase(size, line.find(']', size) - size + 1);
    lines.push_back(line);
  }
  return lines;
}

// Each of our lines starts one of lspci's, in the same order: lspci -vv says more of each
// capability, and more lines under it.
void ExpectLinesWithin(const std::vector<std::string>& ours, const std::string& theirs) {
  std::istringstream in(theirs);
  std::string line;
  for (const std::string& wanted : ours) {
    bool found = false;
    while (!found && std::getline(in, line)) found = line.rfind(wanted, 0) == 0;
    EXPECT_TRUE(found) << "\"" << wanted << "\" is not, in order, among lspci's lines:\n" << theirs;
    if (!found) return;
  }
}

TEST_F(CliLspci, SelectsFunctionsAsLspciDoes) {
  Dump("-xxx");
  for (const char* selector : {"-s 00:03.0", "-s 3", "-s 1.", "-s .3", "-s 0:1.1", "-s 0000:00:01", "-s :", "-s *:*.*",
                               "-s 0001:00:01.0", "-d 8086:", "-d :1111", "-d ::0601", "-d 8086::0101", "-d *:*",
                               "-d 1234:1111:0300", "-s 1 -d :7010", "-d ffff:"}) {
    Outcome ours = Ferrox(std::string("pci list ") + selector);
    EXPECT_EQ(ours.status, 0) << selector << "\n" << ours.err;
    EXPECT_EQ(ours.out, Lspci(selector)) << selector;
  }
  ExpectUsageFault("pci list -s 00:20.0", "device \"20\" is not a hexadecimal number in 0..1f");
  ExpectUsageFault("pci list -s 100:00.0", "bus \"100\" is not a hexadecimal number in 0..ff");
  ExpectUsageFault("pci list -s 00:01.8", "function \"8\" is not a hexadecimal number in 0..7");
  ExpectUsageFault("pci list -d 8086", "\"8086\" is not [vendor]:[device][:class]: the colon is missing");
  ExpectUsageFault("pci list -d 8086:1g", "device \"1g\" is not a hexadecimal number in 0..ffff");
}

TEST_F(CliLspci, MachineReadableFormsAreLspcis) {
  Dump("-xxx");
  for (const char* form : {"-m", "-mm", "-vmm", "-vm", "-mm -n", "-mm -nn", "-vmm -nn", "-vmm -D", "-mm -s 3", "-vmm -k"})
    EXPECT_EQ(Ferrox(std::string("pci list ") + form).out, Lspci(form)) << form;
  UseCapableMachine();
  Dump("-xxx");
  EXPECT_EQ(Ferrox(machine_ + "pci list -vmm").out, Lspci("-vmm"));
  ExpectUsageFault("pci list -m --json", "-m and -mm have no JSON form: --json gives every field already");
}

TEST_F(CliLspci, VerboseDecodesTheHeaderAsLspci) {
  for (bool capable : {false, true}) {
    if (capable) UseCapableMachine();
    Dump("-xxx");
    Outcome ours = Ferrox(machine_ + "pci list -v");
    ASSERT_EQ(ours.status, 0) << ours.err;
    ExpectLinesWithin(WithoutSizes(ours.out), Lspci("-vv"));
  }
  std::string capable = Ferrox(machine_ + "pci list -v").out;
  for (const char* line : {"\tSubsystem: Intel Corporation Device a000\n",
                           "\tControl: I/O- Mem+ BusMaster+ SpecCycle- MemWINV- VGASnoop- ParErr- Stepping- SERR- FastB2B- DisINTx+\n",
                           "\tStatus: Cap+ 66MHz- UDF- FastB2B- ParErr- DEVSEL=fast >TAbort- <TAbort- <MAbort- >SERR- <PERR- INTx-\n",
                           "\tLatency: 64, Cache Line Size: 64 bytes\n",
                           "\tInterrupt: pin A routed to IRQ 10\n",
                           "\tRegion 0: Memory at febf4000 (32-bit, non-prefetchable) [size=16K]\n",
                           "\tRegion 2: Memory at 800000000 (64-bit, prefetchable) [size=1G]\n",
                           "\tRegion 4: I/O ports at d000 [disabled] [size=32]\n",
                           "\tCapabilities: [40] Power Management version 3\n", "\tCapabilities: [50] MSI\n",
                           "\tCapabilities: [60] Express\n", "\tCapabilities: [70] MSI-X\n",
                           "\tCapabilities: [80] Vendor Specific Information\n\n"})
    EXPECT_NE(capable.find(line), std::string::npos) << line << capable;
  EXPECT_EQ(capable.find("Region 3"), std::string::npos) << "the upper half of a 64-bit BAR is no region";
  // The sizes come from the function itself, which keeps its registers as they were.
  std::string ethernet = Ferrox("pci list -v -s 3").out;
  for (const char* line : {"\tRegion 0: Memory at febc0000 (32-bit, non-prefetchable) [size=128K]\n",
                           "\tRegion 1: I/O ports at c000 [size=64]\n",
                           "\tExpansion ROM at feb80000 [disabled] [size=256K]\n"})
    EXPECT_NE(ethernet.find(line), std::string::npos) << line << ethernet;
}

// The virtual PC's functions are its own: no kernel driver is bound to any of them.
TEST_F(CliLspci, KernelDriversAreNoneOnTheVirtualPc) {
  Dump("-xxx");
  EXPECT_EQ(Ferrox("pci list -k").out, Lspci("-k"));
  EXPECT_EQ(Ferrox("pci list -k").out.find("Kernel driver"), std::string::npos);
}

TEST_F(CliLspci, ReadsEveryDepthOfDumpBackInTheSameLayout) {
  for (const char* depth : {"-x", "-xxx", "-xxxx"}) {
    std::string ours = Dump(depth);
    EXPECT_EQ(Lspci(depth), ours) << depth;
  }
  std::string extended = Dump("-xxxx");
  EXPECT_EQ(std::count(extended.begin(), extended.end(), '\n'), 6 * (1 + 256 + 1)) << "4096 bytes a function";
}

TEST_F(CliLspci, DecodesTheSameFunctionsNamesAndRegions) {
  Dump("-xxx");
  EXPECT_EQ(Lspci(""), Ferrox("pci list").out);
  EXPECT_EQ(Lspci("-n"), Ferrox("pci list -n").out);
  EXPECT_EQ(Lspci("-nn -D"), Ferrox("pci list -nn -D").out);
  std::string ethernet = Lspci("-v -s 00:03.0");
  for (const char* line : {"00:03.0 Ethernet controller: Intel Corporation 82540EM Gigabit Ethernet Controller (rev 03)",
                           "Memory at febc0000 (32-bit, non-prefetchable)", "I/O ports at c000",
                           "Expansion ROM at feb80000 [disabled]", "IRQ 11"})
    EXPECT_NE(ethernet.find(line), std::string::npos) << line << "\n" << ethernet;
}

TEST_F(CliLspci, TheExtendedSpaceReachesTheFunctions) {
  ExpectOutput("pci write 0000:00:03.0 100.l=12345678,9abcdef0", "");
  // One process per command: the write is gone with its virtual PC, the fresh function reads 0.
  ExpectOutput("pci read 0000:00:03.0 104.l", "00000000\n");
  std::string dump = Dump("-xxxx 00:03.0");
  EXPECT_NE(dump.find("\n100: 00 00 00 00"), std::string::npos);
  EXPECT_NE(dump.find("\nff0: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n\n"), std::string::npos);
}

}  // namespace

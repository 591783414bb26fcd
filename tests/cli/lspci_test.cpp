// SPDX-License-Identifier: MIT
// pci dump and pci list against the real lspci: lspci -F reads the tool's dumps as its own and
// decodes from them the same functions, names and regions.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

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
    Outcome ours = Ferrox("pci dump " + depth);
    EXPECT_EQ(ours.status, 0) << ours.err;
    std::ofstream(dump_) << ours.out;
    return ours.out;
  }
  std::string Lspci(const std::string& options) {
    Outcome theirs = Shell("lspci -F " + dump_.string() + " " + options);
    EXPECT_EQ(theirs.status, 0) << theirs.err;
    return theirs.out;
  }

  std::filesystem::path dump_ = TempFile("cli_lspci_dump");
};

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

// SPDX-License-Identifier: MIT
// The tool's conventions: its name and version, one style for every fault with the exit status
// it documents, and the faults people met on their first day with it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "tests/cli/support.h"

namespace {

using namespace cli;

TEST(CliConventions, NameVersionAndExitStatusInTheHelp) {
  Outcome version = Ferrox("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "ferrox " FERROX_VERSION "\n");
  Outcome help = Ferrox("lpt set --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Drive an output pin high or low\nUsage: ferrox lpt set [OPTIONS] PIN LEVEL", 0), 0u) << help.out;
  EXPECT_NE(help.out.find("--port"), std::string::npos) << "the port is chosen after the subcommand too";
  EXPECT_NE(help.out.find("Exit status: 0 success, 1 the operation failed, 2 the command line was not understood"),
            std::string::npos);
  Outcome autofeed = Ferrox("lpt autofeed --help");
  EXPECT_NE(autofeed.out.find("STATE on|off REQUIRED"), std::string::npos) << autofeed.out;
}

// The parser's faults read as the commands' own: the same prefix, status 2, and ranges as people
// write them, the same range whichever end is missed.
TEST(CliConventions, ParseFaultsShareTheStyleAndTheUsageStatus) {
  ExpectUsageFault("irq watch 0 --count 0", "--count: count 0 is outside 1..1000000");
  ExpectUsageFault("irq watch 0 --timeout abc", "--timeout: timeout \"abc\" is not a number of seconds");
  ExpectUsageFault("irq watch 0 --timeout -1", "--timeout: timeout -1 s is outside the range above 0 s");
  ExpectUsageFault("mem read 0x400 0", "COUNT: count 0 is outside 1..65536");
  ExpectUsageFault("mem read 0x400 65537", "COUNT: count 65537 is outside 1..65536");
  ExpectUsageFault("port fifo-read 0x300 0", "COUNT: count 0 is outside 1..65536");
  ExpectUsageFault("port read", "PORT is required");
  ExpectUsageFault("--no-such-option pci list", "The following argument was not expected: --no-such-option");
}

// A command line that parses but asks for what cannot be is refused before anything runs: no
// platform is chosen, so standard error holds the one fault line and nothing else.
TEST(CliConventions, CommandsRefuseTheirCommandLineBeforeChoosingThePlatform) {
  for (const char* arguments : {"port write 0x80 1 2", "port fifo-write 0x80", "mem write 0x400",
                                "lpt capture", "trace"}) {
    Outcome run = Ferrox(arguments);
    EXPECT_EQ(run.status, 2) << arguments << "\n" << run.err;
    EXPECT_EQ(run.err.rfind("ferrox: ", 0), 0u) << arguments << "\n" << run.err;
    EXPECT_EQ(run.err.find("on the virtual PC"), std::string::npos) << arguments << "\n" << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << arguments << "\n" << run.err;
  }
}

TEST(CliConventions, AmbiguousOrImpossibleArgumentsAreRefused) {
  ExpectUsageFault("port read 0378", "PORT: port \"0378\" has a leading zero, which leaves its base unclear: write "
                                     "0x378 for hexadecimal, 378 for decimal");
  ExpectOutput("port read 0", "ff\n");
  ExpectUsageFault("lpt set 10 1", "PIN: pin 10 (nAck) is an input, driven by the device");
  ExpectUsageFault("lpt set 15 0", "PIN: pin 15 (nFault) is an input");
  ExpectUsageFault("mem write 0x500", "nothing to write: give values, or ADDR.l=VALUE");
  ExpectUsageFault("mem write 0x500.w=1 2", "\"0x500.w=1\" gives the values already");
}

TEST(CliConventions, FaultsOfTheOperationSayWhy) {
  ExpectFailure("mem write 0x2000 1", "the driver could not map 1 byte of physical memory at 0x2000: the range holds "
                                      "System RAM, which the driver does not map");
  ExpectFailure("--machine " + testing::TempDir() + " pci list", "machine file " + testing::TempDir() +
                                                                      " is a directory, not a file");
  Outcome directory = Ferrox("lpt print " + testing::TempDir());
  EXPECT_EQ(directory.status, 1) << "a directory ends the command with a fault, not an abort";
  EXPECT_NE(directory.err.find("ferrox: cannot read " + testing::TempDir() + ": it is a directory"), std::string::npos)
      << directory.err;
}

TEST(CliConventions, OutputThatCannotBeWrittenIsAFault) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  Outcome full = Ferrox("mem read 0x400 16 > /dev/full");
  EXPECT_EQ(full.status, 1);
  EXPECT_NE(full.err.find("ferrox: cannot write the output: No space left on device"), std::string::npos) << full.err;
}

TEST(CliConventions, TheTourCountsTheTimerWhileItListens) {
  Outcome demo = Ferrox("demo");
  ASSERT_EQ(demo.status, 0) << demo.err;
  std::size_t line = demo.out.find("line 0, the interval timer at 18.2 Hz, unmasked for 0.2 s: InterruptCounter ");
  ASSERT_NE(line, std::string::npos) << demo.out;
  std::size_t count = line + std::string("line 0, the interval timer at 18.2 Hz, unmasked for 0.2 s: InterruptCounter ").size();
  EXPECT_GT(std::stoi(demo.out.substr(count)), 0) << demo.out.substr(line, 100);
}

// Bash completion as bash itself runs it, for the words typed so far.
std::string Complete(const std::string& words) {
  // The slots come from the virtual PC, which the variable asks for as --virtual does.
  Outcome run = Shell("FERROX_VIRTUAL=1 PATH=" + std::filesystem::path(FERROX_TOOL).parent_path().string() +
                      ":$PATH bash -c 'source " FERROX_SOURCE_DIR "/tools/ferrox/ferrox.bash-completion; "
                      "COMP_WORDS=(" + words + "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _ferrox; "
                      "echo \"${COMPREPLY[*]}\"; complete -p ferrox'");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("complete -F _ferrox ferrox"), std::string::npos);
  return run.out.substr(0, run.out.find('\n'));
}

TEST(CliConventions, BashCompletesSubcommandsOptionsAndSlots) {
  EXPECT_EQ(Complete("ferrox \"\""), "port mem pci irq lpt package demo trace record replay");
  EXPECT_EQ(Complete("ferrox replay --loose-p"), "--loose-polling");
  EXPECT_EQ(Complete("ferrox --machine m.toml lpt -p 2 pr"), "print");
  EXPECT_EQ(Complete("ferrox pci dump -x"), "-x -xxx -xxxx");
  EXPECT_EQ(Complete("ferrox irq watch -n 3 --t"), "--timeout");
  EXPECT_EQ(Complete("ferrox lpt autofeed o"), "on off");
  EXPECT_EQ(Complete("ferrox pci read 00:0"), "00:00.0 00:01.0 00:01.1 00:01.3 00:02.0 00:03.0");
  EXPECT_EQ(Complete("ferrox pci read 00:02.0 0"), "") << "a register is not completed";
}

}  // namespace

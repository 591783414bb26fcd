// SPDX-License-Identifier: MIT
// Printing seen as a user and as a logic analyzer sees it: standard input, the progress bar on a
// terminal only, and the Value Change Dump of the handshake.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "tests/cli/support.h"

namespace {

using namespace cli;

// A Value Change Dump as its readers take it: each wire's changes in time.
struct Vcd {
  std::map<std::string, std::vector<std::pair<std::uint64_t, bool>>> changes;  // by wire name

  static Vcd Parse(const std::string& text) {
    Vcd vcd;
    std::map<std::string, std::string> names;  // by identifier
    std::istringstream in(text);
    std::uint64_t time = 0;
    for (std::string line; std::getline(in, line);) {
      std::istringstream words(line);
      std::string first;
      words >> first;
      if (first == "$var") {
        std::string type, size, id, name;
        words >> type >> size >> id >> name;
        names[id] = name;
      } else if (!first.empty() && first[0] == '#') {
        time = std::stoull(first.substr(1));
      } else if (!first.empty() && (first[0] == '0' || first[0] == '1') && names.count(first.substr(1))) {
        vcd.changes[names[first.substr(1)]].push_back({time, first[0] == '1'});
      }
    }
    return vcd;
  }

  // When the wire first took the level at or after a time; ~0 when never.
  std::uint64_t When(const std::string& wire, bool level, std::uint64_t after = 0) const {
    for (const auto& [time, value] : changes.at(wire))
      if (time >= after && value == level) return time;
    return ~0ull;
  }
};

TEST(CliCapture, TheVcdOfOnePrintedByteShowsTheHandshakeInOrder) {
  std::filesystem::path vcd_file = TempFile("cli_capture_one.vcd"), png = TempFile("cli_capture_one.png");
  Outcome printed = Shell("printf A | " FERROX_TOOL " --virtual lpt print --capture " + vcd_file.string() + " --png " +
                          png.string() + " -");
  EXPECT_EQ(printed.status, 0) << printed.err;
  EXPECT_EQ(printed.out, "printed 1 byte on LPT1\n");
  Vcd vcd = Vcd::Parse(ReadFile(vcd_file));
  ASSERT_EQ(vcd.changes.size(), 17u);
  // 'A' is 0x41: D0 and D6 rise, then strobe pulses, the printer raises busy, acknowledges, and
  // drops busy with the end of acknowledge.
  std::uint64_t data = std::max(vcd.When("pin02_D0", true), vcd.When("pin08_D6", true));
  std::uint64_t strobe = vcd.When("pin01_nStrobe", false);
  std::uint64_t busy = vcd.When("pin11_Busy", true, strobe);
  std::uint64_t acknowledge = vcd.When("pin10_nAck", false, busy);
  std::uint64_t acknowledged = vcd.When("pin10_nAck", true, acknowledge);
  std::uint64_t ready = vcd.When("pin11_Busy", false, busy);
  EXPECT_LT(data, strobe);
  EXPECT_LT(strobe, vcd.When("pin01_nStrobe", true, strobe));
  EXPECT_LT(strobe, busy);
  EXPECT_LT(busy, acknowledge);
  EXPECT_LT(acknowledge, acknowledged);
  EXPECT_LE(acknowledged, ready);
  EXPECT_NE(ready, ~0ull);
  if (Shell("sigrok-cli --version").status == 0) {
    Outcome sigrok = Shell("sigrok-cli -I vcd -i " + vcd_file.string() + " --show");
    EXPECT_EQ(sigrok.status, 0) << sigrok.err;
    EXPECT_NE(sigrok.out.find("Channels: 17"), std::string::npos) << sigrok.out;
  }
  EXPECT_EQ(ReadFile(png).substr(0, 8), "\x89PNG\r\n\x1a\n");
  std::filesystem::remove(vcd_file);
  std::filesystem::remove(png);
}

TEST(CliCapture, SamplesAtARateForADuration) {
  std::filesystem::path vcd_file = TempFile("cli_capture_rate.vcd");
  Outcome run = Ferrox("lpt capture --rate 1000 --duration 0.05 -o " + vcd_file.string());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out.rfind("LPT1: 50 samples in 0.0", 0), 0u) << run.out;
  Vcd vcd = Vcd::Parse(ReadFile(vcd_file));
  EXPECT_EQ(vcd.changes.size(), 17u);
  EXPECT_EQ(vcd.changes["pin13_Select"].front().second, true) << "the printer on LPT1 is on line";
  std::filesystem::remove(vcd_file);
  ExpectUsageFault("lpt capture --rate 1000", "capture needs -o FILE.vcd, --png FILE.png or both");
  Outcome unwritable = Ferrox("lpt capture --duration 0.01 -o /nonexistent/capture.vcd");
  EXPECT_EQ(unwritable.status, 1);
  EXPECT_NE(unwritable.err.find("ferrox: cannot write /nonexistent/capture.vcd: No such file or directory"),
            std::string::npos) << unwritable.err;
  ExpectUsageFault("lpt capture --rate 1000000 --duration 100 -o x.vcd", "1000000 samples a second for 100 s are more");
}

// The first line of a dump that starts with this, or "".
std::string LineStarting(const std::string& text, const std::string& start) {
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (line.rfind(start, 0) == 0) return line;
  return "";
}

// Logic-analyzer software takes a tick of the dump's timescale for a sample: the timescale is the
// sample period (or the power of ten below it), and time begins at #0 with the first sample.
TEST(CliCapture, TheDumpIsTimedInSamplesFromZero) {
  for (auto [rate, timescale] : {std::pair{"1000", "1 ms"}, {"10000", "100 us"}, {"3000", "100 us"}, {"1", "1 s"}}) {
    std::filesystem::path vcd_file = TempFile("cli_capture_ticks.vcd");
    Outcome run = Ferrox(std::string("lpt capture -r ") + rate + " -d " + (rate == std::string("1") ? "1" : "0.02") +
                         " -o " + vcd_file.string());
    ASSERT_EQ(run.status, 0) << run.err;
    std::string vcd = ReadFile(vcd_file);
    EXPECT_EQ(LineStarting(vcd, "$timescale"), std::string("$timescale ") + timescale + " $end") << rate;
    EXPECT_EQ(LineStarting(vcd, "#"), "#0") << rate;
    if (rate == std::string("1000") && Shell("sigrok-cli --version").status == 0) {
      Outcome sigrok = Shell("sigrok-cli -I vcd -i " + vcd_file.string() + " --show");
      EXPECT_EQ(sigrok.status, 0) << sigrok.err;
      EXPECT_NE(sigrok.out.find("Samplerate: 1000\n"), std::string::npos) << sigrok.out;
      std::string count = LineStarting(sigrok.out, "Logic sample count: ");
      ASSERT_FALSE(count.empty()) << sigrok.out;
      EXPECT_LT(std::stoul(count.substr(count.find(": ") + 2)), 1000u) << "20 samples, not millions";
    }
    std::filesystem::remove(vcd_file);
  }
  ExpectUsageFault("lpt capture -r 1000 -d 1e-9 -o x.vcd", "1000 samples a second for 1e-09 s are no sample");
  ExpectUsageFault("lpt capture -d 0.00001 --png x.png", "10000 samples a second for 1e-05 s are no sample");
}

// A rate the machine cannot keep is said, with how far behind the capture fell.
TEST(CliCapture, ARateTheMachineCannotKeepIsWarnedOf) {
  std::filesystem::path vcd_file = TempFile("cli_capture_fast.vcd");
  Outcome fast = Ferrox("lpt capture -r 1000000 -d 0.02 -o " + vcd_file.string());
  EXPECT_EQ(fast.status, 0) << fast.err;
  EXPECT_NE(fast.err.find("ferrox: warning: this machine cannot sample LPT1 1000000 times a second: the last sample "
                          "came "), std::string::npos) << fast.err;
  EXPECT_NE(fast.err.find(" late ("), std::string::npos) << fast.err;
  EXPECT_EQ(fast.out.rfind("LPT1: 20000 samples in ", 0), 0u) << fast.out;
  std::filesystem::remove(vcd_file);
}

TEST(CliCapture, APictureThatCannotBeWrittenSaysWhy) {
  std::string directory = testing::TempDir();
  ExpectFailure("lpt capture -d 0.01 --png " + directory, "cannot write " + directory + ": Is a directory");
  ExpectFailure("lpt capture -d 0.01 --png /nonexistent/capture.png",
                "cannot write /nonexistent/capture.png: No such file or directory");
}

// A terminal from script(1): the bar redraws one line with bytes, rate and time left.
TEST(CliCapture, ProgressShowsOnATerminalOnly) {
  std::filesystem::path text = TempFile("cli_progress.txt");
  std::ofstream(text) << std::string(300, 'x');
  Outcome piped = Ferrox("lpt print " + text.string());
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(piped.err.find('\r'), std::string::npos) << "no bar into a pipe or file";
  if (Shell("script --version").status != 0) GTEST_SKIP() << "no script(1) here";
  Outcome terminal = Shell("script -qec '" FERROX_TOOL " --virtual lpt print " + text.string() + "' /dev/null");
  EXPECT_EQ(terminal.status, 0) << terminal.err;
  EXPECT_NE(terminal.out.find("\rLPT1 [##############################] 300 B of 300 B, "), std::string::npos)
      << terminal.out;
  EXPECT_NE(terminal.out.find("/s, 0 s left"), std::string::npos) << terminal.out;
  std::filesystem::remove(text);

  std::filesystem::path vcd_file = TempFile("cli_progress.vcd");
  Outcome quiet = Ferrox("lpt capture -r 1000 -d 0.3 -o " + vcd_file.string());
  EXPECT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_EQ(quiet.err.find('\r'), std::string::npos) << "no bar into a pipe or file";
  Outcome capture = Shell("script -qec '" FERROX_TOOL " --virtual lpt capture -r 1000 -d 0.3 -o " + vcd_file.string() +
                          "' /dev/null");
  EXPECT_EQ(capture.status, 0) << capture.err;
  EXPECT_NE(capture.out.find("\rLPT1 [##############################] 300 samples of 300 samples, "), std::string::npos)
      << capture.out;
  std::filesystem::remove(vcd_file);
}

}  // namespace

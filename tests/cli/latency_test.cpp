// SPDX-License-Identifier: MIT
// ferrox latency's shape on the virtual PC: which figures it gives, on which source, and how it
// says what it could not measure. The times themselves are the host's, so no test reads them.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <numeric>
#include <sstream>
#include <vector>

#include "tests/cli/support.h"

namespace {

using namespace cli;
using nlohmann::json;

constexpr const char* Loopback = "--machine " FERROX_SOURCE_DIR "/examples/loopback-machine.toml latency";
constexpr const char* Quick = " --calls 50 --samples 20";

// A machine file in the test's scratch folder; its option for the command line.
std::string Machine(const std::string& name, const std::string& toml) {
  std::filesystem::path file = ScratchDirectory() / name;
  std::ofstream(file) << toml;
  return "--machine " + file.string() + " latency";
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A histogram's counts add up to its samples, and its bins run upwards without gaps.
void ExpectHistogramOf(const json& interrupts) {
  const json& bins = interrupts["histogram"];
  ASSERT_FALSE(bins.empty());
  std::size_t counted = 0;
  for (std::size_t bin = 0; bin < bins.size(); ++bin) {
    counted += bins[bin]["count"].get<std::size_t>();
    EXPECT_LE(bins[bin]["from"].get<double>(), bins[bin]["to"].get<double>());
    if (bin > 0) {
      EXPECT_DOUBLE_EQ(bins[bin]["from"].get<double>(), bins[bin - 1]["to"].get<double>());
    }
  }
  EXPECT_EQ(counted, interrupts["samples"].get<std::size_t>());
  const json& seconds = interrupts["seconds"];
  EXPECT_DOUBLE_EQ(bins.front()["from"].get<double>(), seconds["min"].get<double>());
  EXPECT_DOUBLE_EQ(bins.back()["to"].get<double>(), seconds["max"].get<double>());
  EXPECT_LE(seconds["min"].get<double>(), seconds["median"].get<double>());
  EXPECT_LE(seconds["median"].get<double>(), seconds["p99"].get<double>());
  EXPECT_LE(seconds["p99"].get<double>(), seconds["max"].get<double>());
}

json Measured(const std::string& arguments) {
  Outcome run = Ferrox(arguments + " --json");
  EXPECT_EQ(run.status, 0) << arguments << "\n" << run.err;
  return json::parse(run.out, nullptr, false);
}

TEST(CliLatency, TheTextSaysWhoseFiguresAndDrawsTheHistogram) {
  Outcome run = Ferrox(std::string(Loopback) + Quick);
  ASSERT_EQ(run.status, 0) << run.err;
  std::vector<std::string> lines = Lines(run.out);
  ASSERT_GE(lines.size(), 9u) << run.out;
  EXPECT_EQ(lines[0].rfind("These are the virtual PC's figures", 0), 0u) << run.out;
  EXPECT_EQ(lines[1].rfind("one call of", 0), 0u) << run.out;
  for (std::size_t row = 2; row < 6; ++row) EXPECT_NE(lines[row].find(" 50 "), std::string::npos) << lines[row];
  EXPECT_EQ(lines[2].rfind("port read 0x379, driver", 0), 0u);
  EXPECT_EQ(lines[3].rfind("port read 0x379, direct", 0), 0u);
  EXPECT_EQ(lines[4].rfind("4 KiB window read at 0xf0000", 0), 0u);
  EXPECT_EQ(lines[5].rfind("PCI configuration read 00:00.0", 0), 0u);
  EXPECT_EQ(lines[7], "interrupt latency, LPT1 pin 16 (nInit) wired to nAck, IRQ 7: from the write to OnHwInterrupt");
  EXPECT_NE(lines[8].find(" 20 "), std::string::npos) << lines[8];
  std::size_t counted = 0, bars = 0;
  for (std::size_t row = 9; row < lines.size(); ++row) {
    std::size_t bar = lines[row].rfind('|');
    ASSERT_NE(bar, std::string::npos) << lines[row];
    counted += std::stoul(lines[row].substr(bar + 1));
    bars += lines[row].find('#') != std::string::npos;
  }
  EXPECT_EQ(counted, 20u) << run.out;
  EXPECT_GE(bars, 1u) << run.out;
}

TEST(CliLatency, TheWireToAcknowledgeIsFoundOnTheChosenPortAndItsLine) {
  json report = Measured(Machine("cli_latency_lpt2.toml", R"([[parallel_port]]
base = 0x378
irq = 7
plugged = "printer"

[[parallel_port]]
base = 0x278
irq = 5
plugged = "loopback"
)") + Quick + " --port 2");
  EXPECT_EQ(report["interrupts"]["source"], "loopback");
  EXPECT_EQ(report["interrupts"]["port"], 2);
  EXPECT_EQ(report["interrupts"]["pin"], 16);
  EXPECT_EQ(report["interrupts"]["line"], 5) << "the second port's customary line";
  EXPECT_EQ(report["operations"][0]["name"], "port read 0x279, driver");
  ExpectHistogramOf(report["interrupts"]);
}

TEST(CliLatency, WithoutALoopbackTheTimersIntervals) {
  json report = Measured("latency --calls 10 --samples 3");
  EXPECT_EQ(report["platform"], "virtual_pc");
  EXPECT_EQ(report["interrupts"]["source"], "timer");
  EXPECT_EQ(report["interrupts"]["line"], 0);
  EXPECT_EQ(report["interrupts"]["measures"], "interval");
  EXPECT_EQ(report["interrupts"]["samples"], 3);
  EXPECT_FALSE(report["interrupts"].contains("pin"));
  ExpectHistogramOf(report["interrupts"]);
}

// What cannot be measured is said, and the figures that could be are still given.
TEST(CliLatency, WhatCannotBeMeasuredIsSaid) {
  json refused = Measured(Machine("cli_latency_no_ioperm.toml", "[privilege]\niopl = \"EPERM\"\nioperm = \"EPERM\"\n") +
                          " --calls 10 --samples 1");
  EXPECT_EQ(refused["operations"][1]["calls"], 0);
  EXPECT_EQ(refused["operations"][1]["seconds"], nullptr);
  EXPECT_EQ(refused["operations"][1]["reason"], "the kernel refused access to port 0x379");
  EXPECT_EQ(refused["operations"][0]["calls"], 10) << "the driver path is measured all the same";

  Outcome silent = Ferrox(Machine("cli_latency_no_timer.toml", "timer = false\n") + " --calls 10 --json");
  EXPECT_EQ(silent.status, 1);
  json report = json::parse(silent.out, nullptr, false);
  EXPECT_EQ(report["interrupts"], nullptr) << silent.out;
  EXPECT_EQ(report["operations"].size(), 4u);
  EXPECT_NE(silent.err.find("ferrox: interrupt latency not measured: no loopback on the parallel port, and the "
                            "timer's line 0 gave 0 interrupts before a second passed without one"),
            std::string::npos)
      << silent.err;

  Outcome wrong_line = Ferrox(std::string(Loopback) + " --calls 10 --irq 5");
  EXPECT_EQ(wrong_line.status, 1);
  EXPECT_NE(wrong_line.out.find("port read 0x379, driver"), std::string::npos) << wrong_line.out;
  EXPECT_NE(wrong_line.err.find("no interrupt on IRQ line 5 within 1 s of raising nAck through pin 16 (nInit)"),
            std::string::npos)
      << wrong_line.err;
}

TEST(CliLatency, RefusesAPortNotInstalledAndCountsOutOfRange) {
  ExpectUsageFault("latency --calls 0", "--calls: calls 0 is outside 1..10000000");
  ExpectUsageFault("latency --port 4", "--port: port 4 is outside 1..3");
  ExpectFailure("latency --calls 10 --port 3", "LPT3 is not installed (the BIOS data area lists 2)");
}

TEST(CliLatency, DrawsItsPng) {
  std::filesystem::path png = TempFile("cli_latency.png");
  Outcome run = Ferrox(std::string(Loopback) + Quick + " --png " + png.string());
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadFile(png).substr(0, 8), "\x89PNG\r\n\x1a\n");
  std::filesystem::remove(png);
}

}  // namespace

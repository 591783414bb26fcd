// SPDX-License-Identifier: MIT
// --json: every command that reads or lists prints one JSON document (irq watch one a line) that
// parses, holds what the text form shows, and follows the schema in docs/.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>

#include "ferrox/vpc/platform/fifo_device.h"
#include "tests/cli/support.h"

namespace {

using namespace cli;
using nlohmann::json;

// Checks each line of output against a definition of the schema with Debian's python3-jsonschema.
void ExpectSchema(const std::string& output, const std::string& definition) {
  std::filesystem::path file = TempFile("cli_json_output");
  std::ofstream(file) << output;
  Outcome check = Shell(
      "/usr/bin/python3 -c 'import json, sys, jsonschema\n"
      "schema = json.load(open(\"" FERROX_SOURCE_DIR "/docs/json-output.schema.json\"))\n"
      "validator = jsonschema.Draft202012Validator(dict(schema, **{\"$ref\": \"#/$defs/" + definition + "\"}))\n"
      "for line in open(sys.argv[1]):\n"
      "    for error in validator.iter_errors(json.loads(line)): print(error.message)\n' " + file.string());
  std::filesystem::remove(file);
  EXPECT_EQ(check.status, 0) << check.err;
  EXPECT_EQ(check.out, "") << definition << ": " << output;
}

json Json(const std::string& arguments, const std::string& definition) {
  Outcome run = Ferrox(arguments + " --json");
  EXPECT_EQ(run.status, 0) << arguments << "\n" << run.err;
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << "one document, one line: " << run.out;
  ExpectSchema(run.out, definition);
  return json::parse(run.out, nullptr, false);
}

TEST(CliJson, PortsAndMemory) {
  json port = Json("port read 0x300.w", "port_read");
  EXPECT_EQ(port, (json{{"port", 0x300}, {"width", 2},
                        {"value", ferrox::vpc::FifoDevice::sequence(1) << 8 | ferrox::vpc::FifoDevice::sequence(0)}}));
  json fifo = Json("port fifo-read 0x300 3", "port_fifo_read");
  EXPECT_EQ(fifo["values"], (json{ferrox::vpc::FifoDevice::sequence(0), ferrox::vpc::FifoDevice::sequence(1), ferrox::vpc::FifoDevice::sequence(2)}));
  EXPECT_EQ(Json("mem read 0x408.w 3", "mem_read"), (json{{"address", 0x408}, {"width", 2}, {"values", {0x378, 0x278, 0}}}));
  EXPECT_EQ(Json("mem read 0x400.q 2", "mem_read"),
            (json{{"address", 0x400}, {"width", 8}, {"values", {0x02f803f8, 0x02780378}}}));
}

TEST(CliJson, PciListDecodedAndSelected) {
  json ethernet = Json("pci list -v -k -d 8086:100e", "pci_list");
  ASSERT_EQ(ethernet.size(), 1u);
  EXPECT_EQ(ethernet[0]["slot"], "0000:00:03.0");
  EXPECT_EQ(ethernet[0]["region_sizes"], (json{128 << 10, 64, 0, 0, 0, 0, 256 << 10}));
  EXPECT_EQ(ethernet[0]["command"], 7);
  EXPECT_EQ(ethernet[0]["subsystem_id"], 0x1e);
  EXPECT_EQ(ethernet[0]["capabilities"], json::array());
  EXPECT_EQ(ethernet[0]["driver"], nullptr);
  EXPECT_EQ(Json("pci list -s 1", "pci_list").size(), 3u);
}

TEST(CliJson, PciListDumpAndRegisters) {
  json listing = Json("pci list", "pci_list");
  ASSERT_EQ(listing.size(), 6u);
  EXPECT_EQ(listing[5]["slot"], "0000:00:03.0");
  EXPECT_EQ(listing[5]["class_id"], 0x0200);
  EXPECT_EQ(listing[5]["class_name"], "Ethernet controller");
  EXPECT_EQ(listing[5]["vendor_name"], "Intel Corporation");
  EXPECT_EQ(listing[4]["device_name"], nullptr) << "a device the database does not know has no name";
  json dump = Json("pci dump -xxx 00:03.0", "pci_dump");
  ASSERT_EQ(dump["config"].size(), 256u);
  EXPECT_EQ(dump["config"][0x3C], 0x0b);
  EXPECT_EQ(Json("pci dump", "pci_dump").size(), 6u);
  EXPECT_EQ(Json("pci read 00:03.0 10.l", "pci_read"),
            (json{{"slot", "0000:00:03.0"}, {"register", 0x10}, {"width", 4}, {"value", 0xfebc0000}}));
}

TEST(CliJson, ParallelPortsAndInterrupts) {
  EXPECT_EQ(Json("lpt list", "lpt_list"), (json{{{"port", 1}, {"base", 0x378}}, {{"port", 2}, {"base", 0x278}}}));
  json status = Json("lpt status", "lpt_status");
  EXPECT_EQ(status["status"], (json{{"busy", false}, {"acknowledge", false}, {"paper_end", false}, {"on_line", true},
                                    {"error", false}}));
  EXPECT_EQ(status["pins"][10], (json{{"pin", 11}, {"signal", "Busy"}, {"high", false}}));
  json count = Json("irq count 0", "irq_count");
  EXPECT_EQ(count["line"], 0);

  Outcome watch = Ferrox("irq watch 0 --count 2 --timeout 5 --json");
  ASSERT_EQ(watch.status, 0) << watch.err;
  ExpectSchema(watch.out, "irq_watch");
  std::istringstream lines(watch.out);
  std::vector<json> events;
  for (std::string line; std::getline(lines, line);) events.push_back(json::parse(line));
  ASSERT_EQ(events.size(), 3u) << watch.out;
  EXPECT_EQ(events[1]["number"], 2);
  EXPECT_EQ(events[2]["event"], "end");
  EXPECT_EQ(events[2]["interrupts"], 2);
}

TEST(CliJson, Latency) {
  for (const char* machine : {"", "--machine " FERROX_SOURCE_DIR "/examples/loopback-machine.toml "}) {
    json report = Json(std::string(machine) + "latency --calls 10 --samples 2", "latency");
    EXPECT_EQ(report["operations"].size(), 4u);
    EXPECT_EQ(report["interrupts"]["samples"], 2);
  }
}

TEST(CliJson, APciParallelCardInTheList) {
  std::filesystem::path machine = ScratchDirectory() / "cli_json_card.toml";
  std::ofstream(machine) << "[[pci.function]]\nslot = \"00:05.0\"\nconfig = \"\"\"\n"
                            "00: ed fe 01 00 01 00 00 00 00 02 01 07 00 00 00 00\n10: 01 d0 00 00\n\"\"\"\n";
  json listing = Json("--machine " + machine.string() + " lpt list", "lpt_list");
  ASSERT_EQ(listing.size(), 3u);
  EXPECT_EQ(listing[2], (json{{"slot", "0000:00:05.0"}, {"base", 0xd000}, {"irq", 0}}));
  std::filesystem::remove(machine);
}

// The trace's objects, one a line, each of the shape documented; every call has its own.
TEST(CliJson, TraceEvents) {
  std::filesystem::path file = TempFile("cli_json_trace");
  Outcome run = Ferrox("trace --json -o " + file.string() + " -- " TRACE_SESSION);
  ASSERT_EQ(run.status, 0) << run.err;
  std::string events = ReadFile(file);
  ExpectSchema(events, "trace_event");
  std::istringstream lines(events);
  std::vector<std::uint64_t> sequences;
  for (std::string line; std::getline(lines, line);)
    if (json event = json::parse(line); event.contains("sequence")) sequences.push_back(event["sequence"]);
  ASSERT_FALSE(sequences.empty());
  for (std::size_t index = 0; index < sequences.size(); ++index) EXPECT_EQ(sequences[index], index);
  std::filesystem::remove(file);
}

TEST(CliJson, Doctor) {
  json diagnosis = Json("doctor", "doctor");
  EXPECT_EQ(diagnosis["reachable"], true);
  EXPECT_EQ(diagnosis["virtual_pc"], true);
  EXPECT_EQ(diagnosis["checks"][0]["check"], "virtual PC");
  EXPECT_EQ(diagnosis["checks"][0]["verdict"], "warning");
}

}  // namespace

// SPDX-License-Identifier: MIT
// Machine files: the example of the built-in machine, partial files, and a clear message for each
// kind of fault.
#include <gtest/gtest.h>

#include <fstream>

#include "ferrox/vpc/description/machine_file.h"

namespace {

using ferrox::vpc::MachineDescription;

MachineDescription Parse(std::string_view text, const std::filesystem::path& file = "test.toml") {
  auto result = ferrox::vpc::parse_machine_file(text, file);
  if (!result) ADD_FAILURE() << result.error().Text();
  return result ? *result : MachineDescription{};
}

std::string Fault(std::string_view text) {
  auto result = ferrox::vpc::parse_machine_file(text, "bad.toml");
  EXPECT_FALSE(result.ok()) << text;
  return result ? "" : result.error().Text();
}

TEST(MachineFile, TheExampleSaysExactlyWhatTheBuiltInMachineIs) {
  auto example = ferrox::vpc::load_machine_file(FERROX_SOURCE_DIR "/examples/default-machine.toml");
  ASSERT_TRUE(example.ok()) << example.error().Text();
  EXPECT_TRUE(*example == ferrox::vpc::builtin_machine());
  EXPECT_TRUE(Parse("") == ferrox::vpc::builtin_machine());
  // The comparison sees every field, down to the last.
  MachineDescription other = ferrox::vpc::builtin_machine();
  other.parallel_ports[1].printer.ack_steps = 3;
  EXPECT_FALSE(other == ferrox::vpc::builtin_machine());
}

TEST(MachineFile, KeysGivenChangeOnlyWhatTheyName) {
  std::filesystem::path directory = testing::TempDir();
  std::ofstream(directory / "option.rom", std::ios::binary) << "\x55\xAA\x01";
  MachineDescription machine = Parse(R"(
timer = false
fifo_port = "none"
ata_disk_model = "none"
privilege = { iopl = "EPERM", ioperm = "ENOSYS" }
bios = { lpt = [0x3BC] }
memory.rom = [{ base = 0xC0000, file = "option.rom" }]
memory.device = [{ base = 0xE0000000, size = 0x100000 }]
[[parallel_port]]
base = 0x3BC
plugged = "loopback"
[[parallel_port]]
base = 0x278
irq = 5
plugged = "printer"
printer = { paper_end = true, busy_steps = 100, output_file = "printed.txt" }
[[pci.function]]
slot = "01:1f.7"
regions = [0x100]
config = '''
00: 34 12 78 56
3c: 0a 01
'''
)", directory / "machine.toml");
  EXPECT_FALSE(machine.timer);
  EXPECT_FALSE(machine.fifo_port.has_value());
  EXPECT_FALSE(machine.ata_disk_model.has_value());
  EXPECT_EQ(machine.memory.device, (std::vector<ferrox::vpc::RamRegion>{{0xE0000000, 0x100000}}));
  EXPECT_EQ(Parse("ata_disk_model = \"QEMU HARDDISK\"").ata_disk_model, "QEMU HARDDISK");
  EXPECT_EQ(machine.privilege.iopl_error, EPERM);
  EXPECT_EQ(machine.privilege.ioperm_error, ENOSYS);
  EXPECT_EQ(machine.bios.lpt, (std::array<std::uint16_t, 3>{0x3BC, 0, 0}));
  EXPECT_EQ(machine.bios.com, ferrox::vpc::builtin_machine().bios.com);
  ASSERT_EQ(machine.memory.rom.size(), 1u);
  EXPECT_EQ(machine.memory.rom[0].content, (std::vector<std::uint8_t>{0x55, 0xAA, 0x01}));
  EXPECT_EQ(machine.memory.ram.size(), 2u) << "RAM not named in the file stays as built in";
  ASSERT_EQ(machine.parallel_ports.size(), 2u);
  EXPECT_EQ(machine.parallel_ports[0].base, 0x3BC);
  EXPECT_EQ(machine.parallel_ports[0].irq, 7u);
  EXPECT_EQ(machine.parallel_ports[0].plugged, ferrox::vpc::ParallelPlug::Loopback);
  EXPECT_EQ(machine.parallel_ports[1].plugged, ferrox::vpc::ParallelPlug::Printer);
  EXPECT_TRUE(machine.parallel_ports[1].printer.paper_end);
  EXPECT_FALSE(machine.parallel_ports[1].printer.offline);
  EXPECT_EQ(machine.parallel_ports[1].printer.busy_steps, 100u);
  EXPECT_EQ(machine.parallel_ports[1].printer.output_file, (directory / "printed.txt").string());
  ASSERT_EQ(machine.pci_functions.size(), 1u);
  const ferrox::vpc::PciFunctionImage& function = machine.pci_functions[0];
  EXPECT_EQ(function.location, (ferrox::vpc::PciLocation{1, 0x1F, 7}));
  EXPECT_EQ(function.config[0], 0x34);
  EXPECT_EQ(function.config[3], 0x56);
  EXPECT_EQ(function.config[0x3C], 0x0A);
  EXPECT_EQ(function.config[0x3D], 0x01);
  EXPECT_EQ(function.config[4], 0);
  EXPECT_EQ(function.region_sizes[0], 0x100u);
}

TEST(MachineFile, EachFaultNamesTheLineAndTheKey) {
  const std::pair<const char*, const char*> cases[] = {
      {"timer = true\ntimer = false\n", "bad.toml:2: "},  // TOML itself: a key defined twice
      {"\ntimr = true\n", "bad.toml:2: timr: unknown key"},
      {"[bios]\ncom = [0x3F8]\nlpt = [0x378, 0x10000]\n", "bad.toml:3: bios.lpt[1]: 65536 is out of range 0..65535"},
      {"bios.lpt = [1, 2, 3, 4]\n", "bios.lpt: has more than 3 elements"},
      {"timer = 1\n", "timer: must be true or false"},
      {"fifo_port = 0xFFFE\n", "fifo_port: 65534 is out of range"},
      {"fifo_port = \"off\"\n", "fifo_port: a port number, or \"none\""},
      {"[privilege]\niopl = \"denied\"\n", "bad.toml:2: privilege.iopl: \"denied\" is not"},
      {"[memory]\nram = [{ base = 0, size = 0x1000 },\n  { base = 0x800, size = 0x1000 }]\n", "memory.ram[1]: overlaps memory.ram[0]"},
      {"memory.ram = [{ base = 0xFFFFF000, size = 0x2000 }]\n", "memory.ram[0]: reaches past 4 GiB"},
      {"memory.ram = [{ base = 0x1000 }]\n", "memory.ram[0].size: missing"},
      {"memory.rom = [{ base = 0x1000, image = \"vga\" }]\n", "the only image is \"bios\""},
      {"memory.rom = [{ base = 0x1000, file = \"no-such.rom\" }]\n", "memory.rom[0].file: cannot open no-such.rom"},
      {"memory.rom = [{ base = 0x9F000, image = \"bios\" }]\n", "memory.rom[0]: overlaps memory.ram[0] (built in)"},
      {"[[pci.function]]\nslot = \"00:20.0\"\nconfig = \"00: 86 80\"\n", "bad.toml:2: pci.function[0].slot: \"00:20.0\" is not a slot"},
      {"[[pci.function]]\nslot = \"00:01.0\"\nconfig = \"\"\"\n00: 86 80\nff8: 1 2 3 4 5 6 7 8 9\n\"\"\"\n",
       "pci.function[0].config: row 2: runs past the 4096-byte configuration space"},
      {"[[pci.function]]\nslot = \"00:01.0\"\nconfig = \"00: 86 8g\"\n", "row 1: \"8g\" is not a hexadecimal byte"},
      {"[[pci.function]]\nslot = \"0:1.0\"\nconfig = \"\"\n[[pci.function]]\nslot = \"00:01.0\"\nconfig = \"\"\n",
       "bad.toml:4: pci.function[1].slot: a second function in this slot"},
      {"[pci]\nmirror_host = true\n[[pci.function]]\nslot = \"00:00.0\"\nconfig = \"\"\n", "lists no functions of its own"},
      {"[[parallel_port]]\nbase = 0xFFFE\n", "parallel_port[0].base: 65534 is out of range"},
      {"[[parallel_port]]\nbase = 0x378\nirq = 16\n", "bad.toml:3: parallel_port[0].irq: 16 is out of range 0..15"},
      {"[[parallel_port]]\nbase = 0x378\nplugged = \"modem\"\n", "\"modem\" is not \"nothing\", \"printer\" or \"loopback\""},
      {"[[parallel_port]]\nbase = 0x378\nprinter = { offline = true }\n", "parallel_port[0].printer: no printer is plugged in"},
      {"[[parallel_port]]\nbase = 0x378\nplugged = \"printer\"\nprinter = { of_line = true }\n",
       "parallel_port[0].printer.of_line: unknown key"},
      {"[[parallel_port]]\nbase = 0x378\n[[parallel_port]]\nbase = 0x37A\n",
       "bad.toml:3: parallel_port[1].base: overlaps the registers of the port at 0x378"},
      {"memory.device = [{ base = 0xFFF00000, size = 0x100001 }]\n", "memory.device[0]: reaches past 4 GiB"},
      {"memory.rom = [{ base = 0xFD010000, image = \"bios\" }]\n", "memory.rom[0]: overlaps memory.device[0] (built in)"},
      {"ata_disk_model = \"\"\n", "bad.toml:1: ata_disk_model: the model is 1 to 40 printable ASCII characters"},
      {"ata_disk_model = \"ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLMNO\"\n", "ata_disk_model: the model is 1 to 40"},
  };
  for (const auto& [text, message] : cases) EXPECT_NE(Fault(text).find(message), std::string::npos) << Fault(text);
}

// Malformed texts that the TOML reader itself does not survive (it reaches undefined behaviour)
// are refused with their line before it sees them. The corpus of the machine-file fuzzer keeps
// the same texts.
TEST(MachineFile, TextsTheTomlReaderCannotSurviveAreRefusedWithTheirLine) {
  const std::pair<std::string_view, const char*> cases[] = {
      {"\xd0\x87", "bad.toml:1: a character outside ASCII, which TOML allows only in strings and comments"},
      {"timer = true\n[[[1]]]\n", "bad.toml:2: a table header without a key"},
      {"[ [bios]]\n", "bad.toml:1: a table header without a key"},
      {"[\n", "bad.toml:1: a table header without a key"},
      {"bios.lpt = [0x378,\n}]\n", "bad.toml:2: a '}' in an array, where a value or ']' must stand"},
      {"timer = 1.\"\xd0\x87\"\n", "bad.toml:1: a quote inside a bare key or value"},
      {"a = 1=\"\xcf\x87\"", "bad.toml:1: a value followed by '=', '[' or '{', where ',' or the line's end must stand"},
      {"a = 1/=\"\xcf\x87\"", "bad.toml:1: a character that no number, date or boolean holds"},
      {"bios.lpt = [0x378, 1%'\xcf\x87']\n", "bad.toml:1: a character that no number, date or boolean holds"},
      {"2p=0000-01-41 0 ", "bad.toml:1: a date followed by a time of one digit"},
      {"2p=0000-k1-41 0 ", "bad.toml:1: a date followed by a time of one digit"},
      {"[t]\nd = [1979-0_5-27 7]\n", "bad.toml:2: a date followed by a time of one digit"},
      {"s=0000-01-01t.ls1:01   #", "bad.toml:1: a date and 'T' without a time after it"},
      {"[t]\nd = [1979-05-27T]\n", "bad.toml:2: a date and 'T' without a time after it"},
      {"bios.lpt = [0x378[\"\xcf\x87\"]]\n", "bad.toml:1: a value followed by '=', '[' or '{', where ',' or the line's end must stand"},
      {"[t]\na = 1979-05-27{'\xcf\x87'\n", "bad.toml:2: a value followed by '=', '[' or '{', where ',' or the line's end must stand"},
      {"fifo_port = \"none\"\xd0\x87\n", "bad.toml:1: a character outside ASCII, which TOML allows only in strings and comments"},
      // Valid TOML, but toml++ looks for whitespace after the line-ending backslash.
      {"[[parallel_port]]\nplugged = \"\"\"x\\\n\n  \xd0\x87\"\"\"\n",
       "bad.toml:2: a character outside ASCII after a backslash in a multi-line string"},
      {"bios = { lpt = [0x378] }\n\xe2\x80\x83timer = true\n",
       "bad.toml:2: a character outside ASCII, which TOML allows only in strings and comments"},
  };
  for (const auto& [text, message] : cases) EXPECT_EQ(Fault(text), message);
  // Dates and times of every valid form still reach the reader, which names the unknown key.
  for (const char* text : {"t = 1979-05-27T07:32:00Z\n", "t = 1979-05-27t07:32:00.5+01:00\n", "t = 1979-05-27 07:32:00\n",
                           "t = 1979-05-27\n", "t = 07:32:00\n"})
    EXPECT_EQ(Fault(text), "bad.toml:1: t: unknown key") << text;
}

// What the look before the TOML reader lets through: any character in strings and comments,
// arrays whose elements open a line, and headers of every valid form.
TEST(MachineFile, AnyCharacterStandsInStringsAndCommentsAndArraysMayOpenALine) {
  MachineDescription machine = Parse(R"(# Ї, a comment in any script
bios.lpt = [
  0x3BC,   # « LPT1 » }
]
[ "privilege" ]
iopl = "EPERM" # ‐
[[parallel_port]]
base = 0x3BC
plugged = "printer"
printer = { output_file = """Ї
""" }
[[ parallel_port ]]
base = 0x278
)");
  EXPECT_EQ(machine.bios.lpt[0], 0x3BC);
  EXPECT_EQ(machine.privilege.iopl_error, EPERM);
  ASSERT_EQ(machine.parallel_ports.size(), 2u);
  EXPECT_EQ(machine.parallel_ports[0].printer.output_file, "\xd0\x87\n");
}

TEST(MachineFile, AMissingFileIsNamed) {
  auto result = ferrox::vpc::load_machine_file("/nonexistent/machine.toml");
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().Text(), "/nonexistent/machine.toml: cannot open the machine file");
}

}  // namespace

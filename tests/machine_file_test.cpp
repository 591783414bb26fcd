// Machine files: the example of the built-in machine, partial files, and a clear message for each
// kind of fault.
#include <gtest/gtest.h>

#include <fstream>

#include "ferrox/vpc/description/machine_file.h"

namespace {

using vpc::MachineDescription;

MachineDescription Parse(std::string_view text, const std::filesystem::path& file = "test.toml") {
  vpc::MachineFileResult result = vpc::parse_machine_file(text, file);
  if (auto* error = std::get_if<std::string>(&result)) ADD_FAILURE() << *error;
  return std::get_if<MachineDescription>(&result) ? std::get<MachineDescription>(result) : MachineDescription{};
}

std::string Fault(std::string_view text) {
  vpc::MachineFileResult result = vpc::parse_machine_file(text, "bad.toml");
  EXPECT_TRUE(std::holds_alternative<std::string>(result)) << text;
  return std::holds_alternative<std::string>(result) ? std::get<std::string>(result) : "";
}

void ExpectSameMachine(const MachineDescription& a, const MachineDescription& b) {
  EXPECT_EQ(a.timer, b.timer);
  EXPECT_EQ(a.fifo_port, b.fifo_port);
  EXPECT_EQ(a.privilege.iopl_error, b.privilege.iopl_error);
  EXPECT_EQ(a.privilege.ioperm_error, b.privilege.ioperm_error);
  EXPECT_EQ(a.bios.com, b.bios.com);
  EXPECT_EQ(a.bios.lpt, b.bios.lpt);
  ASSERT_EQ(a.memory.ram.size(), b.memory.ram.size());
  for (std::size_t i = 0; i < a.memory.ram.size(); ++i) {
    EXPECT_EQ(a.memory.ram[i].base, b.memory.ram[i].base);
    EXPECT_EQ(a.memory.ram[i].size, b.memory.ram[i].size);
  }
  ASSERT_EQ(a.memory.rom.size(), b.memory.rom.size());
  for (std::size_t i = 0; i < a.memory.rom.size(); ++i) {
    EXPECT_EQ(a.memory.rom[i].base, b.memory.rom[i].base);
    EXPECT_EQ(a.memory.rom[i].content, b.memory.rom[i].content);
  }
  ASSERT_EQ(a.parallel_ports.size(), b.parallel_ports.size());
  for (std::size_t i = 0; i < a.parallel_ports.size(); ++i) {
    const vpc::ParallelPortDescription &x = a.parallel_ports[i], &y = b.parallel_ports[i];
    EXPECT_EQ(x.base, y.base);
    EXPECT_EQ(x.irq, y.irq);
    EXPECT_EQ(x.plugged, y.plugged);
    EXPECT_EQ(x.printer.paper_end, y.printer.paper_end);
    EXPECT_EQ(x.printer.offline, y.printer.offline);
    EXPECT_EQ(x.printer.error, y.printer.error);
    EXPECT_EQ(x.printer.busy_steps, y.printer.busy_steps);
    EXPECT_EQ(x.printer.ack_steps, y.printer.ack_steps);
    EXPECT_EQ(x.printer.output_file, y.printer.output_file);
  }
  ASSERT_EQ(a.pci_functions.size(), b.pci_functions.size());
  for (std::size_t i = 0; i < a.pci_functions.size(); ++i) {
    EXPECT_EQ(a.pci_functions[i].location, b.pci_functions[i].location) << i;
    EXPECT_EQ(a.pci_functions[i].config, b.pci_functions[i].config) << i;
    EXPECT_EQ(a.pci_functions[i].region_sizes, b.pci_functions[i].region_sizes) << i;
  }
}

TEST(MachineFile, TheExampleSaysExactlyWhatTheBuiltInMachineIs) {
  vpc::MachineFileResult example = vpc::load_machine_file(FERROX_SOURCE_DIR "/examples/default-machine.toml");
  ASSERT_TRUE(std::holds_alternative<MachineDescription>(example)) << std::get<std::string>(example);
  ExpectSameMachine(std::get<MachineDescription>(example), vpc::builtin_machine());
  ExpectSameMachine(Parse(""), vpc::builtin_machine());
}

TEST(MachineFile, KeysGivenChangeOnlyWhatTheyName) {
  std::filesystem::path directory = testing::TempDir();
  std::ofstream(directory / "option.rom", std::ios::binary) << "\x55\xAA\x01";
  MachineDescription machine = Parse(R"(
timer = false
fifo_port = "none"
privilege = { iopl = "EPERM", ioperm = "ENOSYS" }
bios = { lpt = [0x3BC] }
memory.rom = [{ base = 0xC0000, file = "option.rom" }]
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
  EXPECT_EQ(machine.privilege.iopl_error, EPERM);
  EXPECT_EQ(machine.privilege.ioperm_error, ENOSYS);
  EXPECT_EQ(machine.bios.lpt, (std::array<std::uint16_t, 3>{0x3BC, 0, 0}));
  EXPECT_EQ(machine.bios.com, vpc::builtin_machine().bios.com);
  ASSERT_EQ(machine.memory.rom.size(), 1u);
  EXPECT_EQ(machine.memory.rom[0].content, (std::vector<std::uint8_t>{0x55, 0xAA, 0x01}));
  EXPECT_EQ(machine.memory.ram.size(), 2u) << "RAM not named in the file stays as built in";
  ASSERT_EQ(machine.parallel_ports.size(), 2u);
  EXPECT_EQ(machine.parallel_ports[0].base, 0x3BC);
  EXPECT_EQ(machine.parallel_ports[0].irq, 7u);
  EXPECT_EQ(machine.parallel_ports[0].plugged, vpc::ParallelPlug::Loopback);
  EXPECT_EQ(machine.parallel_ports[1].plugged, vpc::ParallelPlug::Printer);
  EXPECT_TRUE(machine.parallel_ports[1].printer.paper_end);
  EXPECT_FALSE(machine.parallel_ports[1].printer.offline);
  EXPECT_EQ(machine.parallel_ports[1].printer.busy_steps, 100u);
  EXPECT_EQ(machine.parallel_ports[1].printer.output_file, (directory / "printed.txt").string());
  ASSERT_EQ(machine.pci_functions.size(), 1u);
  const vpc::PciFunctionImage& function = machine.pci_functions[0];
  EXPECT_EQ(function.location, (vpc::PciLocation{1, 0x1F, 7}));
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
  };
  for (const auto& [text, message] : cases) EXPECT_NE(Fault(text).find(message), std::string::npos) << Fault(text);
}

TEST(MachineFile, AMissingFileIsNamed) {
  vpc::MachineFileResult result = vpc::load_machine_file("/nonexistent/machine.toml");
  ASSERT_TRUE(std::holds_alternative<std::string>(result));
  EXPECT_EQ(std::get<std::string>(result), "/nonexistent/machine.toml: cannot open the machine file");
}

}  // namespace

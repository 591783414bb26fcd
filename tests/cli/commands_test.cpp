// SPDX-License-Identifier: MIT
// The ferrox tool as a user runs it: each test starts the built program on the virtual PC and
// checks what it prints on standard output and standard error, and its exit status.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>

#include "ferrox/vpc/platform/fifo_device.h"
#include "tests/cli/support.h"

namespace {

using namespace cli;

using ferrox::vpc::FifoDevice;

TEST(Cli, PortsOnBothPathsAndFifoBlocks) {
  Outcome first = Ferrox("port read 0x300");
  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(first.out, Hex(FifoDevice::sequence(0), 2) + "\n");
  EXPECT_NE(first.err.find("ferrox: on the virtual PC, built-in machine"), std::string::npos) << first.err;
  unsigned dword = 0;
  for (int i = 3; i >= 0; --i) dword = dword << 8 | FifoDevice::sequence(i);
  ExpectOutput("port read --direct --size 4 768", Hex(dword, 8) + "\n");
  std::string words = "00:";
  for (int i = 0; i < 6; i += 2) words += " " + Hex(FifoDevice::sequence(i + 1) << 8 | FifoDevice::sequence(i), 4);
  ExpectOutput("port fifo-read -s 2 0x300 3", words + "\n");
  ExpectOutput("port write --direct 0x80 0x12", "");
  ExpectOutput("port write 0x80.w=0x1234", "");
  ExpectOutput("port fifo-write 0x300.w=1,2,0xffff", "");
  ExpectOutput("port fifo-write -s 4 0x300 1 0xffffffff", "");
}

TEST(Cli, PortFaultsAreNamed) {
  ExpectUsageFault("port write 0x300 0x100", "value 0x100 does not fit in 1 byte");
  ExpectUsageFault("port fifo-write -s 2 0x300 1 0x10000", "value 0x10000 does not fit in 2 bytes");
  ExpectUsageFault("port read 0x10000", "PORT: port \"0x10000\" is outside 0..0xffff");
  ExpectUsageFault("port read -s 4 0xfffe", "4 bytes from port 0xfffe run past port 0xffff");
  ExpectUsageFault("port read 0xfffe.l", "PORT: 4 bytes from port 0xfffe run past port 0xffff");
  ExpectUsageFault("port read -s 3 0x300", "--size");
  ExpectUsageFault("port read -s 4 0x300.w", "\"0x300.w\" and --size 4 give two widths");
  ExpectUsageFault("port read 0x3g0", "PORT: port \"0x3g0\" is not a number");
  ExpectUsageFault("port read 010x", "PORT: port \"010x\" is not a number");
  ExpectUsageFault("port write 0x300", "port write of 0x300 gives no value: write 0x300=VALUE or 0x300 VALUE");
  ExpectUsageFault("port write 0xfffe.w=1,2", "PORT: 4 bytes from port 0xfffe run past port 0xffff");
  ExpectUsageFault("port write 0xffff 1 2", "2 bytes from port 0xffff run past port 0xffff");
}

// Several values go to consecutive ports of the access's width, as the manual says; each run starts
// a fresh virtual PC, so the trace is what shows where they went.
TEST(Cli, PortWriteOfSeveralValuesWritesConsecutivePorts) {
  for (const auto& [arguments, expected] :
       std::vector<std::pair<std::string, std::vector<std::string>>>{
           {"0x378=0x41,5,0xc", {"port=0x0378 width=1 value=0x41", "port=0x0379 width=1 value=0x05", "port=0x037a width=1 value=0x0c"}},
           {"0x80.w 1 0x1234", {"port=0x0080 width=2 value=0x0001", "port=0x0082 width=2 value=0x1234"}}}) {
    Outcome run = Ferrox("trace -- " + std::string(FERROX_TOOL) + " port write " + arguments);
    ASSERT_EQ(run.status, 0) << arguments << "\n" << run.err;
    std::size_t at = 0;
    for (const std::string& write : expected) {
      at = run.err.find("port out " + write, at);
      EXPECT_NE(at, std::string::npos) << arguments << ": " << write << "\n" << run.err;
    }
  }
}

TEST(Cli, MemoryReadsInTheHexdumpLayoutAndWritesBytes) {
  ExpectOutput("mem read 0x408 6", "00000408: 78 03 78 02 00 00\n");
  ExpectOutput("mem read 0xffff0",
               "000ffff0: ea 5b e0 00 f0 31 32 2f 30 38 2f 32 36 ff fc ff\n");
  ExpectOutput("mem read 0x3f8 20", "000003f8: 00 00 00 00 00 00 00 00 f8 03 f8 02 00 00 00 00\n"
                                    "00000408: 78 03 78 02\n");
  ExpectOutput("mem write 0x500 1 0x02 255", "");
  ExpectOutput("mem write 0xfd000000.l=0x12345678,0x9abcdef0", "");
  ExpectOutput("mem read 0x408.w 3", "00000408: 0378 0278 0000\n");
  ExpectUsageFault("mem write 0x500.w=0x12345", "ADDR: value 0x12345 does not fit in 2 bytes");
  ExpectUsageFault("mem read 0x400.l 16385", "16385 elements of 4 bytes are more than the 65536 bytes one command moves");
  ExpectUsageFault("mem write 0x500 1 0x100", "value 0x100 does not fit in 1 byte");
  ExpectUsageFault("mem read 0xfffffff0 32", "32 bytes from 0xfffffff0 run past the 4 GiB physical address space");
  ExpectUsageFault("mem read 0x100000000",
                   "address 0x100000000 lies above 4 GiB, out of the driver's reach: its map request carries a 32-bit "
                   "physical address");
  ExpectUsageFault("mem write 0x800000000.q=1", "address 0x800000000 lies above 4 GiB");
  ExpectUsageFault("mem read 0x10000000000000", "ADDR: address \"0x10000000000000\" is outside 0..0xfffffffffffff");
  ExpectUsageFault("mem read 0x400.x", "ADDR: \"0x400.x\": an address is written ADDR.b, ADDR.w, ADDR.l or ADDR.q");
}

// Quad words, as devmem's 64-bit width: one 8-byte transfer each, little-endian.
TEST(Cli, MemoryInQuadWords) {
  ExpectOutput("mem read 0x400.q 2", "00000400: 0000000002f803f8 0000000002780378\n");
  ExpectOutput("mem read 0x3f8.q 3", "000003f8: 0000000000000000 0000000002f803f8\n00000408: 0000000002780378\n");
  ExpectUsageFault("mem read 0x400.q 8193", "8193 elements of 8 bytes are more than the 65536 bytes one command moves");
  ExpectUsageFault("mem read 0xfffffff8.q 2", "16 bytes from 0xfffffff8 run past the 4 GiB physical address space");
  Outcome run = Ferrox("trace -- " + std::string(FERROX_TOOL) + " mem write 0xfd000000.q=0x123456789abcdef0,1");
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* write : {"mem write phys=0xfd000000 offset=0 ", "mem write phys=0xfd000000 offset=8 "}) {
    std::size_t at = run.err.find(write);
    ASSERT_NE(at, std::string::npos) << write << "\n" << run.err;
    EXPECT_NE(run.err.substr(at, 200).find("count=8"), std::string::npos) << run.err.substr(at, 200);
  }
  EXPECT_NE(run.err.find("f0 de bc 9a 78 56 34 12"), std::string::npos) << run.err;
  ExpectUsageFault("port read 0x300.q", "PORT: \"0x300.q\": a port is written PORT.b, PORT.w or PORT.l");
}

TEST(Cli, PciListDumpAndSetpciRegisters) {
  ExpectOutput("pci list -n",
               "00:00.0 0600: 8086:1237 (rev 02)\n"
               "00:01.0 0601: 8086:7000\n"
               "00:01.1 0101: 8086:7010\n"
               "00:01.3 0680: 8086:7113 (rev 03)\n"
               "00:02.0 0300: 1234:1111 (rev 02)\n"
               "00:03.0 0200: 8086:100e (rev 03)\n");
  ExpectOutput("pci dump -n 00:03.0",
               "00:03.0 0200: 8086:100e (rev 03)\n"
               "00: 86 80 0e 10 07 00 00 00 03 00 00 02 00 00 00 00\n"
               "10: 00 00 bc fe 01 c0 00 00 00 00 00 00 00 00 00 00\n"
               "20: 00 00 00 00 00 00 00 00 00 00 00 00 86 80 1e 00\n"
               "30: 00 00 b8 fe 00 00 00 00 00 00 00 00 0b 01 ff 00\n\n");
  ExpectOutput("pci read 0:2.0 00.l", "11111234\n");
  ExpectOutput("pci read 00:03.0 0x3C.B", "0b\n");
  ExpectOutput("pci write 00:02.0 04.w=0003", "");
}

// setpci's names stand for the registers, with their own widths unless one is given.
TEST(Cli, PciRegistersBySetpcisNames) {
  ExpectOutput("pci read 00:03.0 VENDOR_ID", "8086\n");
  ExpectOutput("pci read 00:03.0 device_id", "100e\n");
  ExpectOutput("pci read 00:03.0 COMMAND", "0007\n");
  ExpectOutput("pci read 00:03.0 COMMAND.b", "07\n");
  ExpectOutput("pci read 00:03.0 BASE_ADDRESS_0", "febc0000\n");
  ExpectOutput("pci read 00:03.0 BASE_ADDRESS_0+2.w", "febc\n");
  ExpectOutput("pci read 00:03.0 INTERRUPT_LINE", "0b\n");
  ExpectOutput("pci read 00:03.0 SUBSYSTEM_ID", "001e\n");
  ExpectUsageFault("pci read 00:03.0 COMMANDO", "REG: \"COMMANDO\" is neither a hexadecimal register nor a register name");
  ExpectUsageFault("pci read 00:03.0 COMMAND+1", "REG: register 05 is not aligned to its width of 2 bytes");
  ExpectUsageFault("pci read 00:03.0 COMMAND+x.b", "REG: offset \"x\" is not a hexadecimal number");
  ExpectUsageFault("pci write 00:03.0 COMMAND", "REG=VALUE: \"04.w\" gives no value");
}

// VALUE:MASK writes the mask's bits only: the register is read and the other bits written back as
// they were. Each run starts a fresh virtual PC, so the trace shows what was written.
TEST(Cli, PciWriteWithAMaskKeepsTheOtherBits) {
  for (const auto& [arguments, written] : std::vector<std::pair<std::string, std::string>>{
           {"00:03.0 04.w=0000:0002", "register=0x004 width=2 value=0x0005"},
           {"00:03.0 COMMAND=0100:ff00", "register=0x004 width=2 value=0x0107"},
           {"00:03.0 3c.b=5:0f,ff:00", "register=0x03d width=1 value=0x01"},
           {"00:03.0 04.w=0000", "register=0x004 width=2 value=0x0000"}}) {
    Outcome run = Ferrox("trace -- " + std::string(FERROX_TOOL) + " pci write " + arguments);
    ASSERT_EQ(run.status, 0) << arguments << "\n" << run.err;
    EXPECT_NE(run.err.find("pci write bus=0x00 device=0x03 function=0x0 " + written), std::string::npos)
        << arguments << "\n" << run.err;
  }
  ExpectUsageFault("pci write 00:03.0 04.b=1:1ff", "REG=VALUE: mask 0x1ff does not fit in 1 byte");
  ExpectUsageFault("pci write 00:03.0 04.b=1:", "REG=VALUE: mask \"\" is not a hexadecimal number");
}

TEST(Cli, PciFaultsAreNamed) {
  ExpectUsageFault("pci read 00:02.0 1000.b", "REG: register \"1000\" is outside 0..fff");
  ExpectUsageFault("pci write 00:02.0 ff8.l=1,2,3", "REG=VALUE: 12 bytes from register ff8 run past register fff");
  ExpectFailure("pci read 00:1f.0 00.w", "no PCI function at 00:1f.0");
  ExpectFailure("pci read 0001:00:02.0 00.w", "no PCI function at 0001:00:02.0: the driver reaches domain 0000 only");
  ExpectUsageFault("pci dump 00:20.0", "SLOT: \"00:20.0\" is not a slot");
  ExpectUsageFault("pci read 00:02.0 03.w", "REG: register 03 is not aligned to its width of 2 bytes");
  ExpectUsageFault("pci read 00:02.0 04.q", "REG: \"04.q\": a register is written REG.b, REG.w or REG.l");
  ExpectUsageFault("pci write 00:02.0 04.b=1ff", "REG=VALUE: value 0x1ff does not fit in 1 byte");
  ExpectUsageFault("pci write 00:02.0 04.b", "REG=VALUE: \"04.b\" gives no value");
}

TEST(Cli, IrqWatchPrintsEachTimerTickAndCountsTheLine) {
  Outcome watch = Ferrox("irq watch 0 --count 2 --timeout 5");
  EXPECT_EQ(watch.status, 0) << watch.err;
  EXPECT_NE(watch.out.find("irq 0: interrupt 1 at "), std::string::npos) << watch.out;
  EXPECT_NE(watch.out.find("irq 0: interrupt 2 at "), std::string::npos) << watch.out;
  EXPECT_NE(watch.out.find("2 interrupts on line 0 in "), std::string::npos) << watch.out;
  Outcome silent = Ferrox("irq watch 3 --count 1 --timeout 0.2");
  EXPECT_EQ(silent.status, 1);
  EXPECT_NE(silent.err.find("only 0 of 1 interrupts on line 3 within 0.2 s"), std::string::npos) << silent.err;
  Outcome count = Ferrox("irq count 0");
  EXPECT_EQ(count.status, 0);
  EXPECT_EQ(count.out.find_first_not_of("0123456789\n"), std::string::npos) << count.out;
  ExpectUsageFault("irq count 16", "LINE: IRQ line 16 is outside 0..15");
}

TEST(Cli, ParallelPortsPinsAndStatus) {
  ExpectOutput("lpt list", "LPT1 at 0x378\nLPT2 at 0x278\n");
  ExpectOutput("lpt status",
               "LPT1 at 0x378: interrupt on acknowledge off, read mode off\n"
               "  \\ 13 12 11 10  9  8  7  6  5  4  3  2  1 /\n"
               "   \\  H  L  L  H  L  L  L  L  L  L  L  L  H /\n"
               "    \\ 25 24 23 22 21 20 19 18 17 16 15 14 /\n"
               "     \\  G  G  G  G  G  G  G  G  L  H  H  H /\n"
               "  1 strobe, 2..9 data, 10 acknowledge, 11 busy, 12 paper end, 13 select, 14 auto feed,\n"
               "  15 error, 16 init, 17 select in, 18..25 ground (H high, L low, G ground)\n"
               "status: busy no, acknowledge inactive, paper end no, select high (on line), error inactive\n");
  // Nothing plugged into LPT2: its status inputs float high, so busy (inverted) reads as busy.
  Outcome empty = Ferrox("lpt status --port 2");
  EXPECT_NE(empty.out.find("status: busy yes, acknowledge inactive, paper end yes"), std::string::npos) << empty.out;
  for (const char* action : {"lpt set 9 1", "lpt set 2 high", "lpt -p 2 set 17 0", "lpt set --port 2 17 low",
                             "lpt strobe", "lpt init", "lpt select-in", "lpt autofeed on", "lpt irq on",
                             "lpt read-mode off"})
    ExpectOutput(action, "");
  ExpectFailure("lpt --port 3 status", "LPT3 is not installed: the BIOS data area lists 2 parallel ports");
  ExpectUsageFault("lpt set 18 1", "PIN: pin 18 is outside 1..17");
  ExpectUsageFault("lpt set 0 1", "PIN: pin 0 is outside 1..17");
  ExpectUsageFault("lpt set 2 maybe", "LEVEL: level \"maybe\" is not one of 1|high|0|low");
  ExpectUsageFault("lpt autofeed maybe", "STATE: state \"maybe\" is not one of on|off");
  // A switch takes 1 and 0 as a level does.
  for (const char* action : {"lpt irq 1", "lpt irq 0", "lpt autofeed 1", "lpt read-mode 0"}) ExpectOutput(action, "");
  ExpectUsageFault("lpt irq high", "STATE: state \"high\" is not one of on|off|1|0");
  ExpectUsageFault("lpt set 2 on", "LEVEL: level \"on\" is not one of 1|high|0|low");
}

TEST(Cli, PrintingReachesThePrinterOrSaysWhyNot) {
  std::filesystem::path directory = ScratchDirectory();
  std::filesystem::path text = directory / "cli_test_letter.txt", printed = directory / "cli_test_printed.txt";
  std::filesystem::path machine = directory / "cli_test_printer.toml";
  std::string letter = "Dear printer,\r\nthis went through busy, strobe and acknowledge.\r\n\x0C";
  std::ofstream(text, std::ios::binary) << letter;
  std::filesystem::remove(printed);
  std::ofstream(machine) << "[[parallel_port]]\nbase = 0x378\nplugged = \"printer\"\n"
                            "printer = { output_file = \"cli_test_printed.txt\" }\n"
                            "[[parallel_port]]\nbase = 0x278\nplugged = \"printer\"\nprinter = { offline = true }\n";
  std::string on_machine = "--machine " + machine.string() + " ";
  ExpectOutput(on_machine + "lpt print " + text.string(), "printed " + std::to_string(letter.size()) + " bytes on LPT1\n");
  std::filesystem::remove(printed);
  ExpectOutput(on_machine + "lpt print - < " + text.string(), "printed " + std::to_string(letter.size()) + " bytes on LPT1\n");
  EXPECT_EQ(ReadFile(printed), letter);
  Outcome offline = Ferrox(on_machine + "lpt print --port 2 --timeout 0.2 " + text.string());
  EXPECT_EQ(offline.status, 1);
  EXPECT_NE(offline.err.find("the printer on LPT2 stayed busy after 0 of"), std::string::npos) << offline.err;
  EXPECT_NE(offline.err.find("select low"), std::string::npos) << offline.err;
  ExpectFailure("lpt print /nonexistent/letter.txt", "cannot read /nonexistent/letter.txt: No such file or directory");
  for (const auto& file : {text, printed, machine, directory}) std::filesystem::remove(file);
}

TEST(Cli, PackageShowsDescriptionPaletteAndWritesTheIcon) {
  std::filesystem::path icon = ScratchDirectory() / "cli_test_icon.png";
  Outcome run = Ferrox(std::string("package ") + FERROX_LIBRARY + " --icon " + icon.string());
  EXPECT_EQ(run.status, 0) << run.err;
  for (const char* line : {"package ferrox, for design and run time\n", "  requires: netbase, visual, base\n",
                           "palette page \"Drivers\"\n  TFerrox32\n", "    HardAccess: Boolean, default True\n",
                           "    LPTNumber: 0..255, default 1\n", "palette bitmap \"ferrox32\" of TFerrox32 written to"})
    EXPECT_NE(run.out.find(line), std::string::npos) << line << "\n" << run.out;
  EXPECT_EQ(ReadFile(icon).substr(0, 8), "\x89PNG\r\n\x1a\n");
  std::filesystem::remove(icon);
  std::filesystem::remove(icon.parent_path());
  ExpectFailure("package /nonexistent/libnothing.so", "cannot load /nonexistent/libnothing.so");
}

// A parallel port on a PCI card (class 0x0701) at the I/O BAR its firmware gave it, which the BIOS
// data area does not list; a second I/O BAR (its extended registers) and a memory BAR before them.
constexpr const char* PciParallelCard =
    "[[pci.function]]\nslot = \"00:05.0\"\nconfig = \"\"\"\n"
    "00: ed fe 01 00 01 00 00 00 00 02 01 07 00 00 00 00\n"
    "10: 00 00 00 fe 01 d0 00 00 01 d4 00 00 00 00 00 00\n"
    "30: 00 00 00 00 00 00 00 00 00 00 00 00 0b 01 00 00\n\"\"\"\n"
    "[[pci.function]]\nslot = \"00:06.0\"\nconfig = \"00: ed fe 02 00 01 00 00 00 00 00 01 07 00 00 00 00\"\n"
    "[[parallel_port]]\nbase = 0xd000\nirq = 11\nplugged = \"loopback\"\n";

TEST(Cli, APciParallelCardIsListedApartFromTheBiosDataArea) {
  std::filesystem::path machine = ScratchDirectory() / "cli_test_pci_parallel.toml";
  std::ofstream(machine) << PciParallelCard;
  std::string on_machine = "--machine " + machine.string() + " ";
  ExpectOutput(on_machine + "lpt list",
               "LPT1 at 0x378\nLPT2 at 0x278\nPCI 0000:00:05.0 at 0xd000, IRQ 11: not in the BIOS data area\n");
  Outcome listing = Ferrox(on_machine + "lpt list --json");
  EXPECT_EQ(listing.out, "[{\"base\":888,\"port\":1},{\"base\":632,\"port\":2},{\"base\":53248,\"irq\":11,\"slot\":\"0000:00:05.0\"}]\n")
      << "the card without an I/O BAR is no port to drive";
  // Its registers answer at the base, where a port nothing answers reads all ones.
  Outcome status = Ferrox(on_machine + "port read 0xd001");
  EXPECT_EQ(status.status, 0) << status.err;
  EXPECT_NE(status.out, "ff\n");
  Outcome doctor = Ferrox(on_machine + "doctor");
  EXPECT_NE(doctor.out.find("ok       PCI 0000:00:05.0: at 0xd000, IRQ 11 (not in the BIOS data area), the virtual PC's; "
                            "drive it with: ferrox lpt status --base 0xd000\n"),
            std::string::npos)
      << doctor.out;
  std::filesystem::remove(machine);
}

TEST(Cli, APciParallelCardIsDrivenAtItsBase) {
  std::filesystem::path machine = ScratchDirectory() / "cli_test_pci_parallel_base.toml";
  std::ofstream(machine) << PciParallelCard;
  std::string on_machine = "--machine " + machine.string() + " ";
  // The loopback plug on the card ties each output to an input: strobe to select, D0 to error,
  // init to acknowledge, select in to busy, auto feed to paper end.
  ExpectOutput(on_machine + "lpt status --base 0xd000",
               "port 0xd000: interrupt on acknowledge off, read mode off\n"
               "  \\ 13 12 11 10  9  8  7  6  5  4  3  2  1 /\n"
               "   \\  H  H  L  H  L  L  L  L  L  L  L  L  H /\n"
               "    \\ 25 24 23 22 21 20 19 18 17 16 15 14 /\n"
               "     \\  G  G  G  G  G  G  G  G  L  H  L  H /\n"
               "  1 strobe, 2..9 data, 10 acknowledge, 11 busy, 12 paper end, 13 select, 14 auto feed,\n"
               "  15 error, 16 init, 17 select in, 18..25 ground (H high, L low, G ground)\n"
               "status: busy no, acknowledge inactive, paper end yes, select high (on line), error active\n");
  Outcome json = Ferrox(on_machine + "lpt --base 0xd000 status --json");
  ASSERT_EQ(json.status, 0) << json.err;
  nlohmann::json status = nlohmann::json::parse(json.out);
  EXPECT_EQ(status["port"], nullptr);
  EXPECT_EQ(status["base"], 0xd000);
  EXPECT_EQ(status["registers"], (nlohmann::json{{"data", 0x00}, {"status", 0xf7}, {"control", 0xcc}}));

  // A pin set goes to the card's data register, built on what the register held; the BIOS data
  // area's ports are not touched.
  Outcome set = Ferrox(on_machine + "trace -- " FERROX_TOOL " lpt set --base 0xd000 2 high");
  EXPECT_EQ(set.status, 0) << set.err;
  EXPECT_NE(set.err.find("port in port=0xd000 width=1 -> value=0x00"), std::string::npos) << set.err;
  EXPECT_NE(set.err.find("port out port=0xd000 width=1 value=0x01"), std::string::npos) << set.err;
  EXPECT_EQ(set.err.find("port=0x037"), std::string::npos) << set.err;
  // A strobe pulls pin 1 low for one write to the control register (0xcc with its inverted bit
  // set), then holds it released for 1001.
  Outcome strobe = Ferrox(on_machine + "trace --all -- " FERROX_TOOL " lpt strobe --base 0xd000");
  EXPECT_EQ(strobe.status, 0) << strobe.err;
  std::size_t pulled = strobe.err.find("port out port=0xd002 width=1 value=0xcd");
  EXPECT_NE(pulled, std::string::npos) << strobe.err;
  std::size_t released = 0;
  for (std::size_t at = strobe.err.find("port out port=0xd002 width=1 value=0xcc"); at != std::string::npos;
       at = strobe.err.find("port out port=0xd002 width=1 value=0xcc", at + 1))
    released += at > pulled ? 1 : 0;
  EXPECT_EQ(released, 1001u);
  std::filesystem::remove(machine);
}

TEST(Cli, ABaseNoParallelPortCouldHaveIsRefused) {
  for (const char* base : {"0", "0x379", "0x37a", "0xfffd", "0x10000"})
    ExpectUsageFault(std::string("lpt status --base ") + base,
                     std::string("--base: base ") + base + " is no parallel port's base: a port's registers start at a "
                     "multiple of 4 in 0x4..0xfffc");
  ExpectUsageFault("lpt set --base 0x37g 2 1", "--base: ");
  ExpectFailure("lpt -p 2 status --base 0x378", "--port 2 and --base 0x378 name two ports: give one");
  Outcome highest = Ferrox("lpt status --base 0xfffc");
  EXPECT_EQ(highest.status, 0) << "a port whose control register is the last port: " << highest.err;
}

TEST(Cli, MachineFileDescribesTheVirtualPc) {
  std::filesystem::path machine = ScratchDirectory() / "cli_test_machine.toml";
  std::ofstream(machine) << "privilege = { iopl = \"EPERM\", ioperm = \"EPERM\" }\n"
                            "[[pci.function]]\nslot = \"00:1f.0\"\nconfig = \"00: 22 10 05 00 00 00 00 00 01 00 00 06\"\n";
  std::string on_machine = "--machine " + machine.string() + " ";
  Outcome listing = Ferrox(on_machine + "pci list -n");
  EXPECT_EQ(listing.out, "00:1f.0 0600: 1022:0005 (rev 01)\n");
  EXPECT_NE(listing.err.find("on the virtual PC, machine " + machine.string()), std::string::npos) << listing.err;
  ExpectFailure(on_machine + "port read --direct 0x300", "direct port access refused");
  ExpectFailure(on_machine + "port fifo-read 0x300 4", "no I/O permission for port 0x300");

  // Every part of the description reaches the machine the tool runs on.
  std::ofstream(machine.parent_path() / "cli_test_option.rom", std::ios::binary) << "\x55\xAA\x01";
  std::ofstream(machine) << "fifo_port = 0x310\nbios = { lpt = [0x3BC] }\n"
                            "memory.rom = [{ base = 0xC0000, file = \"cli_test_option.rom\" }]\n"
                            "[[parallel_port]]\nbase = 0x3BC\nplugged = \"loopback\"\n";
  ExpectOutput(on_machine + "mem read 0xc0000 4", "000c0000: 55 aa 01 ff\n");
  ExpectOutput(on_machine + "port read 0x310", Hex(FifoDevice::sequence(0), 2) + "\n");
  ExpectOutput(on_machine + "lpt list", "LPT1 at 0x3bc\n");
  std::filesystem::remove(machine.parent_path() / "cli_test_option.rom");

  std::ofstream(machine) << "\n[bios]\nlpt = [0x378, 0x278, 0x3BC, 0]\n";
  // The virtual PC itself reads the file, and names itself in its fault.
  Outcome faulty = Ferrox(on_machine + "pci list");
  EXPECT_EQ(faulty.status, 1);
  EXPECT_NE(faulty.err.find("virtual PC: " + machine.string() + ":3: bios.lpt: has more than 3 elements"),
            std::string::npos) << faulty.err;
  std::filesystem::remove(machine);
  ExpectFailure(on_machine + "pci list", "machine file " + machine.string() + " not found");
  std::filesystem::remove(machine.parent_path());
}

TEST(Cli, PciListOfAMachineMirroringTheHostAgreesWithLspci) {
  if (!std::filesystem::exists("/sys/bus/pci/devices") || std::filesystem::is_empty("/sys/bus/pci/devices"))
    GTEST_SKIP() << "this host has no PCI functions in sysfs";
  for (const char* naming : {"-n", "", "-nn"}) {
    Outcome lspci = Shell(std::string("lspci ") + naming);
    ASSERT_EQ(lspci.status, 0) << lspci.err;
    Outcome ours = Ferrox(std::string("--machine ") + FERROX_SOURCE_DIR "/examples/host-pci.toml pci list " + naming);
    EXPECT_EQ(ours.status, 0) << ours.err;
    EXPECT_EQ(ours.out, lspci.out) << naming;
  }
}

TEST(Cli, HelpEverywhereAndTheTour) {
  Outcome help = Ferrox("--help");
  EXPECT_EQ(help.status, 0);
  for (const char* group : {"port", "mem", "pci", "irq", "lpt", "package", "demo", "--machine"})
    EXPECT_NE(help.out.find(group), std::string::npos) << group;
  Outcome pci_write = Ferrox("pci write --help");
  EXPECT_EQ(pci_write.status, 0);
  EXPECT_NE(pci_write.out.find("REG=VALUE"), std::string::npos);
  ExpectUsageFault("", "\"ferrox\" needs a subcommand: port, mem, pci, irq, lpt, package, demo");
  ExpectUsageFault("pci", "\"ferrox pci\" needs a subcommand: list, dump, read, write");
  ExpectUsageFault("frobnicate", "The following argument was not expected: frobnicate");
  // ferrox help [COMMAND...] prints what --help prints.
  for (const char* command : {"", "lpt", "lpt capture", "trace"}) {
    Outcome asked = Ferrox(std::string("help ") + command);
    EXPECT_EQ(asked.status, 0) << command << "\n" << asked.err;
    EXPECT_EQ(asked.out, Ferrox(std::string(command) + " --help").out) << command;
  }
  ExpectUsageFault("help frobnicate", "help: ferrox has no command \"frobnicate\" (ferrox help lists them)");
  ExpectUsageFault("help lpt frob", "help: ferrox lpt has no command \"frob\" (ferrox help lpt lists them)");

  Outcome demo = Ferrox("demo");
  EXPECT_EQ(demo.status, 0) << demo.err;
  for (const char* section : {"== Driver connection", "== Port input/output", "== Physical memory",
                              "== Parallel port", "== Hardware interrupts", "== PCI configuration"})
    EXPECT_NE(demo.out.find(section), std::string::npos) << section;
}

}  // namespace

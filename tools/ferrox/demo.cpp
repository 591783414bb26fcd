// The tour, one section per subsystem.
#include "tools/ferrox/demo.h"

#include <fmt/format.h>

#include <cstdint>
#include <string>

#include "component/Ferrox32.h"

namespace ferrox_tool {

namespace {

const char* yes_no(bool value) { return value ? "True" : "False"; }

std::string masked_lines(const ferrox::TFerrox32& component) {
  std::string lines;
  for (int line = 0; line < ferrox::IrqLineCount; ++line)
    if (component.fGetMasked(static_cast<ferrox::Byte>(line))) lines += (lines.empty() ? "" : " ") + std::to_string(line);
  return lines.empty() ? "none" : lines;
}

void section(std::ostream& out, const char* title) { out << "\n== " << title << "\n"; }

void show_driver(std::ostream& out, ferrox::TFerrox32& component) {
  section(out, "Driver connection");
  out << fmt::format("new component: HardAccess {}, LPTNumber {}, driver active {}\n", yes_no(component.HardAccess()),
                     component.LPTNumber(), yes_no(component.DriverActive()));
  component.OpenDriver();
  out << fmt::format("OpenDriver: driver active {}, descriptor {}, HardAccess {}\n", yes_no(component.DriverActive()),
                     component.DriverHandle(), yes_no(component.HardAccess()));
  out << "masked IRQ lines: " << masked_lines(component) << "\n";
}

// Sixteen bytes a line: physical address, the bytes, and the printable ones.
void hexdump(std::ostream& out, std::uint32_t address, const std::uint8_t* bytes, std::size_t count) {
  for (std::size_t line = 0; line < count; line += 16) {
    std::string hex, text;
    for (std::size_t i = line; i < line + 16 && i < count; ++i) {
      hex += fmt::format("{:02X} ", bytes[i]);
      text += bytes[i] >= 0x20 && bytes[i] < 0x7F ? static_cast<char>(bytes[i]) : '.';
    }
    out << fmt::format("  {:08X}  {:<48} {}\n", address + line, hex, text);
  }
}

void show_memory(std::ostream& out, ferrox::TFerrox32& component) {
  section(out, "Physical memory");
  std::uint32_t linear = component.fMapPhysToLinear(0x408, 6);
  out << fmt::format("fMapPhysToLinear(0x408, 6): linear address 0x{:08X}\n", linear);
  for (std::uint32_t slot = 0; slot < ferrox::LptSlotCount; ++slot)
    out << fmt::format("LPT{} base address in the BIOS data area: 0x{:04X}\n", slot + 1, component.fGetMemW(0x408, slot));
  component.fUnmapMemory();
  std::uint8_t block[32];
  component.ReadPhysicalMemory(0x400, 0, sizeof block, block);
  out << "BIOS data area, ReadPhysicalMemory(0x400, 0, 32):\n";
  hexdump(out, 0x400, block, sizeof block);
  component.ReadPhysicalMemory(0xFFFF0, 0, 16, block);
  out << "top of the BIOS ROM, ReadPhysicalMemory(0xFFFF0, 0, 16):\n";
  hexdump(out, 0xFFFF0, block, 16);
}

}  // namespace

int run_demo(std::ostream& out) {
  auto* component = framework::TComponent::Create<ferrox::TFerrox32>(nullptr);
  show_driver(out, *component);
  show_memory(out, *component);
  component->CloseDriver();
  out << fmt::format("CloseDriver: driver active {}\n", yes_no(component->DriverActive()));
  component->Free();
  return 0;
}

}  // namespace ferrox_tool

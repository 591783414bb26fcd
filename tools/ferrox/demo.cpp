// The tour, one section per subsystem.
#include "tools/ferrox/demo.h"

#include <fmt/format.h>
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

// The FIFO device of the virtual PC answers at 0x300: each read yields its next byte.
void show_ports(std::ostream& out, ferrox::TFerrox32& component) {
  section(out, "Port input/output");
  constexpr ferrox::Word FifoPort = 0x300;
  ferrox::Byte through_driver = component.fGetPortB(FifoPort);
  component.fSetPortB(FifoPort, 0x5A);
  out << fmt::format("driver path: fGetPortB(0x{:X}) = 0x{:02X}, fSetPortB(0x{:X}, 0x5A)\n", FifoPort, through_driver,
                     FifoPort);
  component.fSetHardAccess(false);
  ferrox::Byte direct = component.fGetPortB(FifoPort);
  component.fSetPortB(FifoPort, 0xA5);
  out << fmt::format("direct path (HardAccess {}): fGetPortB(0x{:X}) = 0x{:02X}, fSetPortB(0x{:X}, 0xA5)\n",
                     yes_no(component.HardAccess()), FifoPort, direct, FifoPort);
  ferrox::Byte block[16] = {};
  component.ReadPortFIFO(FifoPort, sizeof block, block);
  std::string bytes;
  for (ferrox::Byte byte : block) bytes += fmt::format(" {:02X}", byte);
  out << fmt::format("ReadPortFIFO(0x{:X}, {}):{}\n", FifoPort, sizeof block, bytes);
  component.WritePortFIFO(FifoPort, sizeof block, block);
  out << fmt::format("WritePortFIFO(0x{:X}, {}): those bytes written out, in one string instruction\n", FifoPort,
                     sizeof block);
  component.fSetHardAccess(true);
}

}  // namespace

int run_demo(std::ostream& out) {
  auto* component = framework::TComponent::Create<ferrox::TFerrox32>(nullptr);
  show_driver(out, *component);
  show_ports(out, *component);
  component->CloseDriver();
  out << fmt::format("CloseDriver: driver active {}\n", yes_no(component->DriverActive()));
  component->Free();
  return 0;
}

}  // namespace ferrox_tool

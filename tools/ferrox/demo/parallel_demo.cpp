// SPDX-License-Identifier: MIT
// The parallel-port section of the tour: the ports found, the pins of the selected one drawn as
// its 25-pin socket, and a line printed on the printer plugged into it.
#include "tools/ferrox/demo/parallel_demo.h"

#include <dlfcn.h>
#include <fmt/format.h>

#include <algorithm>
#include <string>

#include "ferrox/vpc/control.h"
#include "tools/ferrox/lpt/lpt_print.h"
#include "tools/ferrox/lpt/parallel_socket.h"

namespace ferrox_tool {

namespace {

const char* boolean(bool value) { return value ? "True" : "False"; }

std::string escaped(std::string_view text) {
  std::string shown;
  for (char c : text) shown += c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
  return shown;
}

void print_line(std::ostream& out, ferrox::TFerrox32& component) {
  // The virtual PC's control API, found only when the virtual PC is loaded.
  auto printer_output = reinterpret_cast<vpc_printer_output_entry>(dlsym(RTLD_DEFAULT, "vpc_printer_output"));
  if (!printer_output) {
    out << "not on the virtual PC: nothing is printed\n";
    return;
  }
  constexpr std::string_view Line = "Hello from ferrox, through pins, strobe and busy.\r\n";
  bool printed = print_on_parallel_port(component, Line) == Line.size();
  out << fmt::format("printed \"{}\": {}\n", escaped(Line), printed ? "done" : "the printer stayed busy");
  char received[128];
  std::size_t count = printer_output(component.LPTBase(), received, sizeof received);
  out << fmt::format("the virtual printer received {} bytes: \"{}\"\n", count,
                     escaped({received, std::min(count, sizeof received)}));
}

}  // namespace

void show_parallel_port(std::ostream& out, ferrox::TFerrox32& component) {
  out << "\n== Parallel port\n";
  out << fmt::format("ports found in the BIOS data area: {}", component.LPTCount());
  for (int number = 1; number <= component.LPTCount(); ++number)
    out << fmt::format(", LPT{} at 0x{:03X}", number, component.LPTAddress(number));
  out << "\n";
  // Selecting the port loads the write shadows from its registers, so pin writes keep the rest.
  component.fSetLPTNumber(1);
  out << fmt::format("LPTNumber {}: base 0x{:03X}, control register 0x{:02X}, interrupt enable {}\n",
                     component.LPTNumber(), component.LPTBase(), component.LPTWriteShadow(2),
                     boolean(component.LPTIrq()));
  out << fmt::format("status: busy {}, acknowledge {}, paper end {}, select low {}, error {}\n",
                     boolean(component.fGetLPTBusy()), boolean(component.fGetLPTAckwl()),
                     boolean(component.fGetLPTPaperEnd()), boolean(component.fGetLPTSlct()),
                     boolean(component.fGetLPTError()));
  for (ferrox::Byte bit = 0; bit < 8; ++bit) component.fSetPin(static_cast<ferrox::Byte>(2 + bit), ('F' >> bit) & 1);
  out << "the 17 pins with 'F' (0x46) on the data pins:\n";
  draw_socket(out, component);
  print_line(out, component);
}

}  // namespace ferrox_tool

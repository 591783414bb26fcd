// SPDX-License-Identifier: MIT
// The tour, one section per subsystem.
#include "tools/ferrox/demo/demo.h"

#include <dlfcn.h>
#include <errno.h>
#include <fmt/format.h>
#include <signal.h>
#include <time.h>

#include <cstdint>
#include <string>

#include "ferrox/component/Ferrox32.h"
#include "ferrox/vpc/control.h"
#include "tools/ferrox/support/hexdump.h"
#include "tools/ferrox/lpt/lpt_print.h"
#include "tools/ferrox/demo/parallel_demo.h"
#include "tools/ferrox/pci/pci_listing.h"

namespace ferrox_tool {

namespace {

const char* yes_no(bool value) { return value ? "True" : "False"; }

std::string masked_lines(const ferrox::TFerrox32& component) {
  std::string lines;
  for (int line = 0; line < ferrox::IrqLineCount; ++line)
    if (component.fGetMasked(static_cast<ferrox::Byte>(line))) lines += (lines.empty() ? "" : " ") + std::to_string(line);
  return lines.empty() ? "none" : lines;
}

constexpr unsigned AddressDigits = 8;  // physical addresses in the hexdumps

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

// OnHwInterrupt of the interrupt section. It runs inside the signal handler, so it only stores.
struct IrqWatcher {
  volatile sig_atomic_t calls = 0;
  volatile sig_atomic_t last_irq = -1;
  void OnIrq(ferrox::Word irq) {
    calls = calls + 1;
    last_irq = irq;
  }
};

void show_interrupts(std::ostream& out, ferrox::TFerrox32& component) {
  section(out, "Hardware interrupts");
  // The virtual PC's control API, found only when the virtual PC is loaded.
  auto raise_irq = reinterpret_cast<vpc_raise_irq_entry>(dlsym(RTLD_DEFAULT, "vpc_raise_irq"));
  if (!raise_irq) {
    out << "not on the virtual PC: no interrupts to raise\n";
    return;
  }
  IrqWatcher watcher;
  component.SetOnHwInterrupt(ferrox::TInterruptHandler::Bind<&IrqWatcher::OnIrq>(&watcher));
  component.UnmaskInterrupt(7);
  out << fmt::format("UnmaskInterrupt(7): masked {}\n", yes_no(component.fGetMasked(7)));
  for (unsigned line : {7u, 7u, 7u, 5u}) raise_irq(line);
  out << "raised line 7 three times and line 5 (masked) once\n";
  out << fmt::format("OnHwInterrupt calls {}, last IrqNumber {}\n", int(watcher.calls), int(watcher.last_irq));
  out << fmt::format("line 7: GetHandledCounter {}, InterruptCounter {}\n", component.GetHandledCounter(7),
                     component.InterruptCounter(7));
  out << fmt::format("line 5: GetHandledCounter {}, InterruptCounter {}\n", component.GetHandledCounter(5),
                     component.InterruptCounter(5));
  component.fSetLPTIrq(true);
  print_on_parallel_port(component, "IRQ\r\n");
  component.fSetLPTIrq(false);
  out << fmt::format("printed 5 bytes with the parallel port's interrupt enabled: line 7: GetHandledCounter {}, "
                     "InterruptCounter {}\n", component.GetHandledCounter(7), component.InterruptCounter(7));
  component.MaskInterrupt(7);
  raise_irq(7);
  out << fmt::format("MaskInterrupt(7), raised once more: GetHandledCounter {}, InterruptCounter {}\n",
                     component.GetHandledCounter(7), component.InterruptCounter(7));
  // The driver counts a line's interrupts only while a descriptor listens to it.
  component.UnmaskInterrupt(0);
  timespec fifth_of_a_second{0, 200'000'000};
  while (nanosleep(&fifth_of_a_second, &fifth_of_a_second) == -1 && errno == EINTR) {
  }
  out << fmt::format("line 0, the interval timer at 18.2 Hz, unmasked for 0.2 s: InterruptCounter {}, "
                     "GetHandledCounter {}\n", component.InterruptCounter(0), component.GetHandledCounter(0));
  component.MaskInterrupt(0);
  component.SetOnHwInterrupt({});
}

void show_pci(std::ostream& out, ferrox::TFerrox32& component) {
  section(out, "PCI configuration");
  for (const std::string& line : list_pci_functions(component)) out << line << "\n";
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
  hexdump(out, 0x400, block, AddressDigits);
  // A window of exactly these bytes: the block's own window would reach past 1 MiB into System
  // RAM, which a careful driver refuses to map.
  component.fMapPhysToLinear(0xFFFF0, 16);
  component.ReadPhysicalMemory(0xFFFF0, 0, 16, block);
  out << "top of the BIOS ROM, fMapPhysToLinear(0xFFFF0, 16) then ReadPhysicalMemory(0xFFFF0, 0, 16):\n";
  hexdump(out, 0xFFFF0, {block, 16}, AddressDigits);
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

void run_demo(std::ostream& out) {
  out << "The tour runs on the built-in virtual PC, not on this PC's hardware (ferrox doctor says what stands in its way).\n";
  auto* component = ferrox::framework::TComponent::Create<ferrox::TFerrox32>(nullptr);
  show_driver(out, *component);
  show_ports(out, *component);
  show_memory(out, *component);
  show_parallel_port(out, *component);
  show_interrupts(out, *component);
  show_pci(out, *component);
  component->CloseDriver();
  out << fmt::format("CloseDriver: driver active {}\n", yes_no(component->DriverActive()));
  component->Free();
}

}  // namespace ferrox_tool

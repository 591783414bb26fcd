// SPDX-License-Identifier: MIT
// The library's scenarios against a whole PC: written once, run by a test program inside the
// emulated PC (real devices, the kernel driver) and by the ordinary suite on the virtual PC.
//
// Each takes a component whose driver is open, on the access path the runner chose with
// fSetHardAccess, and the facts of the machine it runs on, which the runner gathers from its own
// reference (/dev/mem and sysfs in the emulated PC, the machine description on the virtual PC).
// The PC has a parallel port at 0x378 on line 7 with a printer, an ATA disk as primary master,
// and a host bridge 8086:1237 at 0:0.0.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "ferrox/component/Ferrox32.h"
#include "tests/scenarios/scenario_checks.h"

namespace scenarios {

constexpr std::uint32_t BiosDataArea = 0x400;
constexpr std::uint32_t BiosDataAreaSize = 0x100;
constexpr std::uint32_t BiosRom = 0xF0000;
constexpr std::uint32_t BiosRomSize = 0x10000;

struct MachineFacts {
  std::vector<std::uint8_t> bios_data_area;  // BiosDataAreaSize bytes from BiosDataArea
  std::vector<std::uint8_t> bios_rom;        // BiosRomSize bytes from BiosRom
  std::array<std::uint8_t, 64> host_bridge_header{};  // configuration bytes 0..63 of 0:0.0
  std::string disk_model;                    // the primary master's model name
};

// "driver path" or "direct path": the printed lines name it, and the ABI.
const char* access_path(const ferrox::TFerrox32& component);

// The ports the firmware lists in the BIOS data area are the ones the component found.
void parallel_ports_from_firmware(ferrox::TFerrox32& component, const MachineFacts& facts, Checks& checks);
// Data pins and control lines read back what was set; a ready printer shows on the status pins.
void parallel_port_pins(ferrox::TFerrox32& component, Checks& checks);
// Prints a line on the first port with the busy/strobe handshake; answers the line printed.
std::string print_with_handshake(ferrox::TFerrox32& component, Checks& checks);
// Prints a line on the first port, each byte only after the interrupt of the one before reached
// OnHwInterrupt; the handler, the component and the driver count one interrupt per byte.
std::string print_on_interrupts(ferrox::TFerrox32& component, Checks& checks);
// IDENTIFY DEVICE on the primary master, its 256 words read with one ReadPortWFIFO.
void ata_identify(ferrox::TFerrox32& component, const MachineFacts& facts, Checks& checks);
// The host bridge's header and identity; the interrupt line register written and read back.
void pci_host_bridge(ferrox::TFerrox32& component, const MachineFacts& facts, Checks& checks);
// The BIOS data area value by value and the BIOS ROM as one block, as the reference has them;
// the data area's application bytes written and restored.
void bios_memory(ferrox::TFerrox32& component, const MachineFacts& facts, Checks& checks);

}  // namespace scenarios

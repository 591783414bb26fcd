// SPDX-License-Identifier: MIT
// What makes one virtual PC differ from another: the machine a test, the ferrox tool or a machine
// file (machine_file.h) describes, and Machine::reset builds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ferrox/vpc/Export.h"
#include "ferrox/vpc/kernel/privilege.h"
#include "ferrox/vpc/parallel/parallel_ports.h"
#include "ferrox/vpc/pci/pci_bus.h"
#include "ferrox/vpc/platform/physical_memory.h"

namespace ferrox::vpc {

struct MachineDescription {
  // The interval timer ticking on line 0 while it is listened to (off unless asked for).
  bool timer = false;
  std::vector<PciFunctionImage> pci_functions = default_pci_chipset();
  MemoryMap memory = default_memory_map();
  BiosDataArea bios = default_bios_data_area();
  PrivilegeDescription privilege;  // default: iopl and ioperm granted
  // Data port of the FIFO device. The default machine has it at 0x300, the start of the range
  // the PC leaves free for prototype cards.
  std::optional<std::uint16_t> fifo_port = 0x300;
  // The parallel ports and what is plugged into each (the BIOS data area lists them separately).
  std::vector<ParallelPortDescription> parallel_ports = default_parallel_ports();
  // The model name of the fixed disk on the primary ATA channel (master); no disk without one.
  std::optional<std::string> ata_disk_model = "FERROX VIRTUAL DISK";

  friend bool operator==(const MachineDescription&, const MachineDescription&) = default;
};

// The environment variables a process's machine starts from (Machine::start): the machine of a
// machine file, FERROX_VPC_MACHINE=/path/machine.toml (the ferrox tool sets it for --machine), and
// the PCI functions of a sysfs devices directory, FERROX_VPC_PCI_SYSFS=/sys/bus/pci/devices.
constexpr const char* MachineFileVariable = "FERROX_VPC_MACHINE";
constexpr const char* PciSysfsVariable = "FERROX_VPC_PCI_SYSFS";

VPC_API MachineDescription default_machine();
// The machine a program started on the virtual PC (preloaded, as the ferrox tool is) begins
// with: the default machine with its interval timer. Test programs link the virtual PC and begin
// with the default machine.
VPC_API MachineDescription builtin_machine();

}  // namespace ferrox::vpc

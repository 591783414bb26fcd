// SPDX-License-Identifier: MIT
// The doctor's look at the parallel ports: where each is (the BIOS data area's list, PCI parallel
// cards), and what holds its registers and its interrupt line.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/ferrox/doctor/checks.h"
#include "tools/ferrox/doctor/system_view.h"

namespace ferrox_tool::doctor {

struct ParallelPortSeen {
  unsigned base = 0;
  std::optional<unsigned> irq;
  std::string slot;  // the PCI function of a card ("0000:03:00.0"); empty for the BIOS data area's ports
};

// The BIOS data area's list of bases through /dev/mem; nothing when it cannot be read.
std::optional<std::vector<unsigned>> bios_parallel_ports(const SystemView& system);

// The interrupt line a port at base conventionally uses; nothing for a base no firmware uses.
std::optional<unsigned> conventional_irq(unsigned base);

// PCI functions of class 0x0701 in sysfs, with their first I/O BAR and their IRQ.
std::vector<ParallelPortSeen> pci_parallel_ports(const SystemView& system);

// One check a port ("LPT1", "PCI 0000:03:00.0"). With a system, what holds each base
// (/proc/ioports) and IRQ (/proc/interrupts); without, the ports of the virtual PC, which holds
// them itself. bios is nothing when the BIOS data area could not be read.
std::vector<Check> parallel_checks(const SystemView* system, const std::optional<std::vector<unsigned>>& bios,
                                   const std::vector<ParallelPortSeen>& cards);

}  // namespace ferrox_tool::doctor

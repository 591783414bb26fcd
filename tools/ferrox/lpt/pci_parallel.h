// SPDX-License-Identifier: MIT
// Parallel ports on PCI and PCI Express cards (class 0x07, subclass 0x01): they answer at an I/O
// BAR that the firmware assigns and never lists in the BIOS data area.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "ferrox/component/Ferrox32.h"
#include "tools/ferrox/pci/pci_listing.h"

namespace ferrox_tool {

constexpr std::uint8_t CommunicationClass = 0x07;
constexpr std::uint8_t ParallelSubclass = 0x01;

// The interrupt line register's "none routed".
constexpr ferrox::Byte NoInterruptLine = 0xff;

struct PciParallelPort {
  PciSlot slot;
  ferrox::Word base = 0;  // the first I/O BAR: data, status and control at base + 0..2
  ferrox::Byte irq = NoInterruptLine;  // the interrupt line the firmware routed
};

// The first I/O BAR of a header, or nothing when every BAR is memory or unset.
std::optional<ferrox::Word> first_io_bar(const ferrox::TPciCfg& header);

// The parallel ports among the PCI functions the component reaches.
std::vector<PciParallelPort> find_pci_parallel_ports(ferrox::TFerrox32& component);

}  // namespace ferrox_tool

// SPDX-License-Identifier: MIT
// A function's header decoded, as pci list -v shows it: the lines lspci -vv prints for the
// subsystem, the command and status bits, latency, interrupt, each region with its size and the
// capabilities list (each by the name lspci gives it); and the lines of lspci -m, -mm and -vmm.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/ferrox/pci/pci_listing.h"

namespace ferrox_tool {

// BARs 0..5 and the expansion ROM.
constexpr std::size_t PciRegionSlots = 7;
// The size in bytes of each region a function decodes; 0 where it decodes none or none is known.
using PciRegionSizes = std::array<std::uint64_t, PciRegionSlots>;

// What pci list shows of one function beyond its line.
struct PciFunctionDetails {
  std::vector<std::uint8_t> config;  // the first 256 bytes of configuration space
  PciRegionSizes sizes{};
  std::optional<std::string> driver;  // the kernel driver bound to it, where one is
};

PciIds pci_ids(const PciFunctionFound& found);

// An entry of the capabilities list, with the name lspci starts its line with.
struct PciCapability {
  unsigned offset = 0, id = 0;
  std::string name;
};

std::vector<PciCapability> pci_capabilities(const std::vector<std::uint8_t>& config);

// The function's line as lspci -v starts it: with the programming interface, where it has one.
std::string verbose_line(const PciFunctionFound& found, Naming naming, bool with_domain, PciNames& names);

// "Subsystem: Red Hat, Inc. QEMU Virtual Machine", where the header names one.
std::optional<std::string> subsystem_line(const PciFunctionFound& found, Naming naming, PciNames& names);

// The lines under the function's line, in lspci -vv's words, without their tab.
std::vector<std::string> decoded_header(const PciFunctionFound& found, const PciFunctionDetails& details,
                                        Naming naming, PciNames& names);

// The sizes of the regions, found the way firmware finds them: with the function's decoding off,
// all ones written to each base address register and what reads back kept, then everything as it
// was. Only for a function that nothing else is using: the virtual PC's own.
PciRegionSizes probe_region_sizes(ferrox::TFerrox32& component, const PciFunctionFound& found);

// lspci -m/-mm: one line of quoted fields; verbose (-vmm), "Field:\tvalue" lines and a blank
// line. level 1 (-m) names the slot "Device" in the verbose form, level 2 (-mm) "Slot".
std::string machine_readable(const PciFunctionFound& found, const PciFunctionDetails& details, Naming naming,
                             bool with_domain, int level, bool verbose, PciNames& names);

}  // namespace ferrox_tool

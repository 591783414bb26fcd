// SPDX-License-Identifier: MIT
// The PCI functions a component can reach: where they are, their configuration space, and how
// lspci shows them (a line per function, hexdumps of -x, -xxx and -xxxx), or as JSON.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ferrox/component/Ferrox32.h"
#include "tools/ferrox/pci/pci_names.h"

namespace ferrox_tool {

// "[domain:]bus:device.function" in hexadecimal, as lspci prints it ("0000:00:1f.3", "00:1f.3").
struct PciSlot {
  unsigned domain = 0;
  ferrox::Word bus = 0, device = 0, function = 0;
};

std::optional<PciSlot> parse_slot(const std::string& text);

// "00:1f.3", or "0000:00:1f.3" with the domain.
std::string slot_text(const PciSlot& slot, bool with_domain);

struct PciFunctionFound {
  PciSlot slot;
  ferrox::TPciCfg header;
};

// The function at a slot, or nothing where none answers. The driver reaches domain 0 only.
std::optional<PciFunctionFound> find_pci_function(ferrox::TFerrox32& component, const PciSlot& slot);

// Scans bus 0 and every bus behind a bridge found on the way, function 0 of each device first and
// the others only where function 0 says the device has several.
std::vector<PciFunctionFound> find_pci_functions(ferrox::TFerrox32& component);

// A 32-bit register. The driver gives a register's value as its request's result, and a 32-bit
// process receives 0xFFFFF001..0xFFFFFFFE as a failure, read as all ones: all ones is read again
// as two words, which always travel, to tell a value lost on the way from the bus's own all ones.
std::uint32_t read_config_dword(ferrox::TFerrox32& component, const PciSlot& slot, unsigned offset);

// The line of `lspci`, `lspci -n` or `lspci -nn`: "00:03.0 0200: 8086:100e (rev 03)".
std::string pci_function_line(const PciFunctionFound& found, Naming naming, bool with_domain, PciNames& names);

// The lines of every function as `lspci -n` prints them.
std::vector<std::string> list_pci_functions(ferrox::TFerrox32& component);

// How much of configuration space `-x` (1), `-xxx` (3) and `-xxxx` (4) show: the header (128
// bytes for a CardBus bridge), the 256 bytes of a conventional function, and the 4096 of PCI
// Express where the driver reaches them.
std::vector<std::uint8_t> read_config_space(ferrox::TFerrox32& component, const PciFunctionFound& found, int level);

nlohmann::json pci_function_json(const PciFunctionFound& found, PciNames& names);

}  // namespace ferrox_tool

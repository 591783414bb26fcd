// SPDX-License-Identifier: MIT
// setpci's register names, for the three header layouts, turned into offsets and widths.
#include "tools/ferrox/pci/pci_registers.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>

namespace ferrox_tool {

namespace {

struct NamedRegister {
  const char* name;
  unsigned offset;
  unsigned width;
};

// The header of a function, then of a PCI-to-PCI bridge, then of a CardBus bridge.
constexpr NamedRegister Registers[] = {
    {"VENDOR_ID", 0x00, 2},
    {"DEVICE_ID", 0x02, 2},
    {"COMMAND", 0x04, 2},
    {"STATUS", 0x06, 2},
    {"REVISION", 0x08, 1},
    {"CLASS_PROG", 0x09, 1},
    {"CLASS_DEVICE", 0x0a, 2},
    {"CACHE_LINE_SIZE", 0x0c, 1},
    {"LATENCY_TIMER", 0x0d, 1},
    {"HEADER_TYPE", 0x0e, 1},
    {"BIST", 0x0f, 1},
    {"BASE_ADDRESS_0", 0x10, 4},
    {"BASE_ADDRESS_1", 0x14, 4},
    {"BASE_ADDRESS_2", 0x18, 4},
    {"BASE_ADDRESS_3", 0x1c, 4},
    {"BASE_ADDRESS_4", 0x20, 4},
    {"BASE_ADDRESS_5", 0x24, 4},
    {"CARDBUS_CIS", 0x28, 4},
    {"SUBSYSTEM_VENDOR_ID", 0x2c, 2},
    {"SUBSYSTEM_ID", 0x2e, 2},
    {"ROM_ADDRESS", 0x30, 4},
    {"CAPABILITIES", 0x34, 1},
    {"INTERRUPT_LINE", 0x3c, 1},
    {"INTERRUPT_PIN", 0x3d, 1},
    {"MIN_GNT", 0x3e, 1},
    {"MAX_LAT", 0x3f, 1},
    {"PRIMARY_BUS", 0x18, 1},
    {"SECONDARY_BUS", 0x19, 1},
    {"SUBORDINATE_BUS", 0x1a, 1},
    {"SEC_LATENCY_TIMER", 0x1b, 1},
    {"IO_BASE", 0x1c, 1},
    {"IO_LIMIT", 0x1d, 1},
    {"SEC_STATUS", 0x1e, 2},
    {"MEMORY_BASE", 0x20, 2},
    {"MEMORY_LIMIT", 0x22, 2},
    {"PREF_MEMORY_BASE", 0x24, 2},
    {"PREF_MEMORY_LIMIT", 0x26, 2},
    {"PREF_BASE_UPPER32", 0x28, 4},
    {"PREF_LIMIT_UPPER32", 0x2c, 4},
    {"IO_BASE_UPPER16", 0x30, 2},
    {"IO_LIMIT_UPPER16", 0x32, 2},
    {"BRIDGE_ROM_ADDRESS", 0x38, 4},
    {"BRIDGE_CONTROL", 0x3e, 2},
    {"CB_CARDBUS_BASE", 0x10, 4},
    {"CB_CAPABILITIES", 0x14, 2},
    {"CB_SEC_STATUS", 0x16, 2},
    {"CB_BUS_NUMBER", 0x18, 1},
    {"CB_CARDBUS_NUMBER", 0x19, 1},
    {"CB_SUBORDINATE_BUS", 0x1a, 1},
    {"CB_CARDBUS_LATENCY", 0x1b, 1},
    {"CB_MEMORY_BASE_0", 0x1c, 4},
    {"CB_MEMORY_LIMIT_0", 0x20, 4},
    {"CB_MEMORY_BASE_1", 0x24, 4},
    {"CB_MEMORY_LIMIT_1", 0x28, 4},
    {"CB_IO_BASE_0", 0x2c, 2},
    {"CB_IO_BASE_0_HI", 0x2e, 2},
    {"CB_IO_LIMIT_0", 0x30, 2},
    {"CB_IO_LIMIT_0_HI", 0x32, 2},
    {"CB_IO_BASE_1", 0x34, 2},
    {"CB_IO_BASE_1_HI", 0x36, 2},
    {"CB_IO_LIMIT_1", 0x38, 2},
    {"CB_IO_LIMIT_1_HI", 0x3a, 2},
    {"CB_SUBSYSTEM_VENDOR_ID", 0x40, 2},
    {"CB_SUBSYSTEM_ID", 0x42, 2},
    {"CB_LEGACY_MODE_BASE", 0x44, 4},
};

bool same_name(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char x, char y) { return std::toupper(static_cast<unsigned char>(x)) == y; });
}

std::optional<NamedRegister> named(std::string_view name) {
  for (const NamedRegister& reg : Registers)
    if (same_name(name, reg.name)) return reg;
  return {};
}

// A register's place is a name when it is not a hexadecimal number: no name is all hex digits.
bool is_offset(std::string_view place) {
  if (place.size() > 2 && place[0] == '0' && (place[1] == 'x' || place[1] == 'X')) place.remove_prefix(2);
  return !place.empty() && std::all_of(place.begin(), place.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

// "COMMAND+1.b=5" as "05.b=5": the name's offset, plus what follows +, with the name's width
// where the text gives none. Offsets pass as they are.
ferrox::Result<std::string> with_offset(std::string_view text) {
  std::string_view place = text.substr(0, text.find_first_of(".=+"));
  if (is_offset(place)) return std::string(text);
  std::optional<NamedRegister> reg = named(place);
  if (!reg) return ferrox::Error{fmt::format("\"{}\" is neither a hexadecimal register nor a register name such as "
                                             "COMMAND or BASE_ADDRESS_0", place)};
  std::string_view rest = text.substr(place.size());
  unsigned offset = reg->offset;
  if (rest.starts_with('+')) {
    std::string_view extra = rest.substr(1, rest.find_first_of(".=") - 1);
    FERROX_TRY_ASSIGN(std::uint64_t added, parse_setpci_number(extra, "offset"));
    offset += static_cast<unsigned>(added);
    rest.remove_prefix(1 + extra.size());
  }
  std::string width = rest.starts_with('.') ? "" : fmt::format(".{}", "bwwl"[reg->width - 1]);
  return fmt::format("{:02x}{}{}", offset, width, rest);
}

}  // namespace

ferrox::Result<Access> parse_register(std::string_view text, Values values) {
  FERROX_TRY_ASSIGN(std::string offsets, with_offset(text));
  return parse_access(offsets, PciRegisterSyntax, values);
}

CLI::Validator register_check(Values values) {
  return CLI::Validator(
      [values](std::string& text) -> std::string {
        ferrox::Result<Access> access = parse_register(text, values);
        return access ? std::string() : access.error().Message;
      },
      values == Values::Refused ? "REG.b|.w|.l" : "REG.b|.w|.l=VALUE[:MASK]");
}

}  // namespace ferrox_tool

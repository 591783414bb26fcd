// SPDX-License-Identifier: MIT
// Parsing lspci's selectors, and matching functions against them.
#include "tools/ferrox/pci/pci_selection.h"

#include <fmt/format.h>

namespace ferrox_tool {

namespace {

// One field of a selector: nothing (any) when empty or *, else hexadecimal up to max.
ferrox::Result<std::optional<unsigned>> field(std::string_view text, unsigned max, std::string_view what) {
  if (text.empty() || text == "*") return std::optional<unsigned>{};
  ferrox::Result<std::uint64_t> value = parse_setpci_number(text, what);
  if (!value || *value > max)
    return ferrox::Error{fmt::format("{} \"{}\" is not a hexadecimal number in 0..{:x}", what, text, max)};
  return std::optional<unsigned>{static_cast<unsigned>(*value)};
}

bool matches(const std::optional<unsigned>& wanted, unsigned value) { return !wanted || *wanted == value; }

}  // namespace

bool PciSelection::selects(const PciFunctionFound& found) const {
  const ferrox::TPciCfg& header = found.header;
  return matches(domain, found.slot.domain) && matches(bus, found.slot.bus) && matches(device, found.slot.device) &&
         matches(function, found.slot.function) && matches(vendor_id, header.VendorID) &&
         matches(device_id, header.DeviceID) && matches(class_id, static_cast<unsigned>(header.ClassCode << 8 | header.SubClass));
}

// The device and function follow the last colon; bus, and domain before it, precede it.
ferrox::Status select_slots(std::string_view text, PciSelection& selection) {
  std::size_t colon = text.rfind(':');
  std::string_view place = colon == std::string_view::npos ? text : text.substr(colon + 1);
  if (colon != std::string_view::npos) {
    std::string_view buses = text.substr(0, colon);
    std::size_t first = buses.find(':');
    if (first != std::string_view::npos) {
      FERROX_TRY_ASSIGN(selection.domain, field(buses.substr(0, first), 0xFFFF, "domain"));
      buses = buses.substr(first + 1);
    }
    FERROX_TRY_ASSIGN(selection.bus, field(buses, 0xFF, "bus"));
  }
  std::size_t dot = place.find('.');
  FERROX_TRY_ASSIGN(selection.device, field(place.substr(0, dot), 0x1F, "device"));
  if (dot != std::string_view::npos) {
    FERROX_TRY_ASSIGN(selection.function, field(place.substr(dot + 1), 7, "function"));
  }
  return ferrox::Done{};
}

ferrox::Status select_ids(std::string_view text, PciSelection& selection) {
  std::size_t first = text.find(':');
  if (first == std::string_view::npos)
    return ferrox::Error{fmt::format("\"{}\" is not [vendor]:[device][:class]: the colon is missing", text)};
  std::string_view rest = text.substr(first + 1);
  std::size_t second = rest.find(':');
  FERROX_TRY_ASSIGN(selection.vendor_id, field(text.substr(0, first), 0xFFFF, "vendor"));
  FERROX_TRY_ASSIGN(selection.device_id, field(rest.substr(0, second), 0xFFFF, "device"));
  if (second != std::string_view::npos) {
    FERROX_TRY_ASSIGN(selection.class_id, field(rest.substr(second + 1), 0xFFFF, "class"));
  }
  return ferrox::Done{};
}

}  // namespace ferrox_tool

// SPDX-License-Identifier: MIT
// Reading a function's sysfs entries.
#include "tools/ferrox/pci/pci_sysfs.h"

#include <cinttypes>
#include <cstdio>
#include <system_error>

namespace ferrox_tool {

namespace {

std::string device_path(const PciSlot& slot, const char* entry) {
  return "/sys/bus/pci/devices/" + slot_text(slot, true) + "/" + entry;
}

}  // namespace

PciRegionSizes sysfs_region_sizes(const doctor::SystemView& system, const PciSlot& slot) {
  PciRegionSizes sizes{};
  std::optional<std::string> text = system.read(device_path(slot, "resource"));
  if (!text) return sizes;
  std::vector<std::string> lines = doctor::lines_of(*text);
  for (std::size_t i = 0; i < sizes.size() && i < lines.size(); ++i) {
    std::uint64_t start = 0, end = 0;
    if (std::sscanf(lines[i].c_str(), "%" SCNx64 " %" SCNx64, &start, &end) == 2 && end > start) sizes[i] = end - start + 1;
  }
  return sizes;
}

std::optional<std::string> sysfs_driver(const doctor::SystemView& system, const PciSlot& slot) {
  std::error_code error;
  std::filesystem::path target = std::filesystem::read_symlink(system.at(device_path(slot, "driver")), error);
  if (error) return {};
  return target.filename().string();
}

}  // namespace ferrox_tool

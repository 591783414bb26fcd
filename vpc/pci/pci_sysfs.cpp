// SPDX-License-Identifier: MIT
// Loading PCI functions from sysfs.
#include "ferrox/vpc/pci/pci_bus.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <system_error>

namespace ferrox::vpc {

namespace {

// "DDDD:BB:DD.F", lower-case hexadecimal as the kernel names the entries.
std::optional<PciLocation> location_of(const std::string& name) {
  unsigned domain = 0, bus = 0, device = 0, function = 0;
  char end = 0;
  if (std::sscanf(name.c_str(), "%4x:%2x:%2x.%1x%c", &domain, &bus, &device, &function, &end) != 4) return {};
  if (domain != 0 || device > 31 || function > 7) return {};
  return PciLocation{static_cast<std::uint8_t>(bus), static_cast<std::uint8_t>(device), static_cast<std::uint8_t>(function)};
}

// Without privilege the kernel hands out only the 64-byte header; the rest stays 0.
std::optional<PciConfigBytes> read_config(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  PciConfigBytes config{};
  in.read(reinterpret_cast<char*>(config.data()), config.size());
  if (in.gcount() < static_cast<std::streamsize>(PciHeaderSize)) return {};
  return config;
}

// One line per region, "start end flags" in hexadecimal: BAR 0..5, then the expansion ROM.
// An unassigned region reads 0 0 0; a 64-bit BAR's upper register has a line of zeros.
std::array<std::uint64_t, PciRegionCount> read_region_sizes(const std::filesystem::path& file) {
  std::array<std::uint64_t, PciRegionCount> sizes{};
  std::ifstream in(file);
  std::string line;
  for (unsigned region = 0; region < PciRegionCount && std::getline(in, line); ++region) {
    unsigned long long start = 0, end = 0, flags = 0;
    if (std::sscanf(line.c_str(), "%llx %llx %llx", &start, &end, &flags) == 3 && end > start) sizes[region] = end - start + 1;
  }
  return sizes;
}

}  // namespace

ferrox::Result<std::vector<PciFunctionImage>> load_pci_sysfs(const std::filesystem::path& devices_dir) {
  std::vector<PciFunctionImage> functions;
  std::error_code error;
  for (std::filesystem::directory_iterator entry(devices_dir, error), end; !error && entry != end; entry.increment(error)) {
    std::optional<PciLocation> location = location_of(entry->path().filename().string());
    if (!location) continue;
    std::optional<PciConfigBytes> config = read_config(entry->path() / "config");
    if (!config) continue;
    functions.push_back({*location, *config, read_region_sizes(entry->path() / "resource")});
  }
  if (error) return ferrox::Error{error.message(), 0, devices_dir.string()};
  std::sort(functions.begin(), functions.end(),
            [](const PciFunctionImage& a, const PciFunctionImage& b) { return a.location < b.location; });
  return functions;
}

}  // namespace ferrox::vpc

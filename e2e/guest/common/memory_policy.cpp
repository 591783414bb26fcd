// SPDX-License-Identifier: MIT
// The driver's window policy from /proc/iomem and /dev/mem.
#include "common/memory_policy.h"

#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <string>

#include "common/dev_mem.h"

namespace e2e {

namespace {

constexpr std::uint64_t FirstMiB = 1 << 20;

// Whether a page that the range reaches in the first MiB holds System RAM.
bool reaches_low_ram(const std::vector<IomemRange>& iomem, std::uint64_t phys, std::uint64_t size) {
  const std::uint64_t page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
  const std::uint64_t first = phys / page * page, end = (phys + size + page - 1) / page * page;
  for (const IomemRange& range : iomem)
    if (range.ram && range.start < std::min(end, FirstMiB) && range.end > first) return true;
  return false;
}

}  // namespace

std::vector<IomemRange> iomem_ranges() {
  std::ifstream iomem("/proc/iomem");
  std::vector<IomemRange> ranges;
  for (std::string line; std::getline(iomem, line);) {
    std::uint64_t start = 0, last = 0;
    if (std::sscanf(line.c_str(), " %" SCNx64 "-%" SCNx64, &start, &last) != 2) continue;
    ranges.push_back({start, last + 1, line.find(": System RAM") != std::string::npos});
  }
  return ranges;
}

bool driver_maps(const std::vector<IomemRange>& iomem, std::uint32_t phys, std::uint32_t size) {
  return dev_mem_maps(phys, size) && !reaches_low_ram(iomem, phys, size);
}

}  // namespace e2e

// SPDX-License-Identifier: MIT
// Which windows the driver must map: those /dev/mem maps, but for the pages of the first MiB that
// hold System RAM, which /dev/mem shows as zeros and the driver refuses. The reference for the
// window scenarios and the fuzzer's oracle.
#pragma once

#include <cstdint>
#include <vector>

namespace e2e {

// One line of /proc/iomem.
struct IomemRange {
  std::uint64_t start, end;  // end: the byte after it
  bool ram;
};

std::vector<IomemRange> iomem_ranges();

// Whether the driver must map the size bytes from phys (iomem: the machine's /proc/iomem).
bool driver_maps(const std::vector<IomemRange>& iomem, std::uint32_t phys, std::uint32_t size);

}  // namespace e2e

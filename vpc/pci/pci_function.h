// SPDX-License-Identifier: MIT
// One PCI function of the virtual PC: a 4096-byte configuration space (the 256 bytes of conventional
// PCI and the extended space of PCI Express after them) whose registers behave as on
// real devices, bit by bit: identity and class are read-only, status error bits are cleared by
// writing 1, base address registers keep only the bits their size lets them decode.
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <string_view>

#include "ferrox/common/Result.h"
#include "ferrox/vpc/Export.h"

namespace ferrox::vpc {

constexpr unsigned PciConfigSize = 4096;
constexpr unsigned PciHeaderSize = 64;
constexpr unsigned PciRegionCount = 7;  // base address registers 0..5 and the expansion ROM
constexpr unsigned PciRomRegion = 6;

using PciConfigBytes = std::array<std::uint8_t, PciConfigSize>;

// Where a function answers: bus, device 0..31, function 0..7.
struct VPC_API PciLocation {
  std::uint8_t bus = 0;
  std::uint8_t device = 0;
  std::uint8_t function = 0;

  std::uint8_t devfn() const { return static_cast<std::uint8_t>((device & 0x1F) << 3 | (function & 7)); }
  static PciLocation from(std::uint8_t bus, std::uint8_t devfn) {
    return {bus, static_cast<std::uint8_t>(devfn >> 3), static_cast<std::uint8_t>(devfn & 7)};
  }
  friend auto operator<=>(const PciLocation&, const PciLocation&) = default;
  friend bool operator==(const PciLocation&, const PciLocation&) = default;
};

// A function as a machine description holds it: its power-on configuration space and the size in
// bytes of each region its base address registers and expansion ROM decode (0: none, or unknown).
struct VPC_API PciFunctionImage {
  PciLocation location;
  PciConfigBytes config{};
  std::array<std::uint64_t, PciRegionCount> region_sizes{};

  friend bool operator==(const PciFunctionImage&, const PciFunctionImage&) = default;
};

// A configuration-space dump as text: one row a line, "offset: byte byte ...", in hexadecimal, the
// layout PCI listing tools print; rows not given are zero. Blank lines are skipped; a row may hold
// up to 16 bytes and must stay within the 4096-byte space. An error says which row ("row 2: ...").
VPC_API ferrox::Result<PciConfigBytes> parse_pci_config_dump(std::string_view rows);

class VPC_API PciFunction final {
 public:
  // The function in its power-on state; which bits software can change is worked out from its
  // header the way the standard header layouts define them.
  explicit PciFunction(const PciFunctionImage& image);

  const PciLocation& location() const { return location_; }

  // width 1, 2 or 4, little-endian; bytes past the 4096-byte space read all ones and take no write.
  std::uint32_t read(unsigned offset, unsigned width) const;
  void write(unsigned offset, unsigned width, std::uint32_t value);

 private:
  void write_byte(unsigned offset, std::uint8_t value);

  PciLocation location_;
  PciConfigBytes config_{};
  PciConfigBytes writable_{};      // 1: the bit takes the value written
  PciConfigBytes clear_on_one_{};  // 1: writing 1 clears the bit, writing 0 leaves it
};

}  // namespace ferrox::vpc

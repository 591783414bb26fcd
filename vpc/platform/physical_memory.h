// SPDX-License-Identifier: MIT
// The virtual PC's physical address space: 32 bits wide, with RAM and ROM where the machine
// description puts them. Addresses with nothing behind them read all ones and drop writes, as
// an undecoded bus cycle does; ROM drops writes. RAM is kept in sparse pages that cost nothing
// until written (an unwritten RAM byte reads 0).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "ferrox/vpc/Export.h"

namespace ferrox::vpc {

// Memory that reads back what was written: the machine's RAM, or memory on a device.
struct RamRegion {
  std::uint32_t base = 0;
  std::uint32_t size = 0;

  friend bool operator==(const RamRegion&, const RamRegion&) = default;
};

struct RomRegion {
  std::uint32_t base = 0;
  std::vector<std::uint8_t> content;

  friend bool operator==(const RomRegion&, const RomRegion&) = default;
};

// Regions do not overlap and none reaches past 4 GiB.
//
// The kernel hands out the RAM as System RAM, which no driver window may cover, except its first
// page (interrupt vectors, BIOS data area), which Linux keeps back on every PC. Device memory (a
// frame buffer) behaves as RAM but is no System RAM.
struct MemoryMap {
  std::vector<RamRegion> ram;
  std::vector<RomRegion> rom;
  std::vector<RamRegion> device;

  friend bool operator==(const MemoryMap&, const MemoryMap&) = default;
};

// What the BIOS leaves at 0x400 after its power-on test: the I/O base addresses of the serial
// and parallel ports it found, 0 for an empty slot.
struct BiosDataArea {
  std::array<std::uint16_t, 4> com{};
  std::array<std::uint16_t, 3> lpt{};

  friend bool operator==(const BiosDataArea&, const BiosDataArea&) = default;
};

VPC_API MemoryMap default_memory_map();
VPC_API BiosDataArea default_bios_data_area();

class VPC_API PhysicalMemory {
 public:
  static constexpr std::uint64_t AddressSpace = 1ull << 32;

  // Rebuilds the address space: every RAM byte 0 again, then the BIOS data area filled in.
  void reset(const MemoryMap& map, const BiosDataArea& bios);

  // Blocks of bytes from an address; the block must not reach past 4 GiB.
  void read(std::uint32_t address, std::span<std::uint8_t> bytes) const;
  // The bytes from an address as they are held, up to `length` of them: as far as one page of RAM,
  // one ROM or one stretch of nothing reaches (unwritten RAM and nothing are held as a page of
  // zeros or of all ones). A block is read by viewing it piece after piece, without a copy.
  std::span<const std::uint8_t> view(std::uint64_t address, std::uint64_t length) const;
  void write(std::uint32_t address, std::span<const std::uint8_t> bytes);

  // Little-endian values, for tests and the machine's own setup.
  std::uint8_t read8(std::uint32_t address) const;
  std::uint16_t read16(std::uint32_t address) const;
  std::uint32_t read32(std::uint32_t address) const;
  void write16(std::uint32_t address, std::uint16_t value);

  // Whether any byte of [address, address + length) is System RAM: RAM past the first page.
  bool holds_system_ram(std::uint64_t address, std::uint64_t length) const;

  // RAM pages that have been written since the last reset.
  std::size_t resident_pages() const { return resident_pages_; }

 private:
  static constexpr std::uint64_t PageSize = 4096;
  using Page = std::array<std::uint8_t, PageSize>;
  // RAM pages by number, in a two-level table: 1024 tables of 1024 pages cover 4 GiB.
  static constexpr std::uint64_t PagesPerTable = 1024;
  using PageTable = std::array<std::unique_ptr<Page>, PagesPerTable>;

  enum class Backing { None, Ram, Rom };
  struct Region {
    std::uint64_t base;
    std::uint64_t end;  // one past the last byte
    Backing backing;
    const std::uint8_t* rom;  // the content, for ROM
    bool system;              // System RAM
  };
  // The bytes from an address that one backing serves: up to the end of the page, of the
  // region, or the start of the next region.
  struct Run {
    Backing backing;
    std::uint64_t length;
    const std::uint8_t* rom;  // the run's first byte, for ROM
  };
  Run run_at(std::uint64_t address) const;

  // The RAM page that holds an address, if it was ever written.
  const Page* page_at(std::uint64_t address) const;
  Page& page_for_writing(std::uint64_t address);

  MemoryMap map_;                // holds the ROM content that regions_ points into
  std::vector<Region> regions_;  // by base address; a machine has a handful
  // The region the last run lay in: a block transfer stays in one region, page after page.
  mutable std::size_t last_region_ = 0;
  std::array<std::unique_ptr<PageTable>, AddressSpace / PageSize / PagesPerTable> pages_;
  std::size_t resident_pages_ = 0;
};

}  // namespace ferrox::vpc

// SPDX-License-Identifier: MIT
// The virtual PC's physical address space and the default machine's memory map.
#include "ferrox/vpc/platform/physical_memory.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "ferrox/hwtypes/PcHardware.h"

namespace ferrox::vpc {

namespace {

constexpr std::uint32_t BiosDataAreaBase = 0x400;
constexpr std::uint32_t BdaComPorts = BiosDataAreaBase + 0x00;
constexpr std::uint32_t BdaLptPorts = BiosDataAreaBase + 0x08;
constexpr std::uint32_t BdaEquipment = BiosDataAreaBase + 0x10;   // installed hardware bits
constexpr std::uint32_t BdaBaseMemory = BiosDataAreaBase + 0x13;  // conventional RAM in KiB
constexpr unsigned EquipmentSerialShift = 9;                      // bits 9..11: serial ports
constexpr unsigned EquipmentParallelShift = 14;                   // bits 14..15: parallel ports
constexpr std::uint32_t ConventionalLimit = 0xA0000;              // 640 KiB

constexpr std::uint64_t FirmwarePageSize = 0x1000;
// The default chipset's VGA decodes its frame buffer here (base address register 0).
constexpr std::uint32_t VgaFrameBuffer = 0xFD000000;
constexpr std::uint32_t VgaFrameBufferSize = 16 << 20;

constexpr std::uint32_t BiosRomBase = 0xF0000;
constexpr std::uint32_t BiosRomSize = 0x10000;

// The last paragraph of the BIOS: the jump the processor starts with, the release date and
// the model byte (0xFC: AT class).
std::vector<std::uint8_t> bios_rom() {
  std::vector<std::uint8_t> rom(BiosRomSize, 0xFF);  // unprogrammed flash
  auto put = [&rom](std::uint32_t address, std::string_view bytes) {
    std::copy(bytes.begin(), bytes.end(), rom.begin() + (address - BiosRomBase));
  };
  using namespace std::string_view_literals;
  put(0xFE000, "ferrox virtual PC BIOS"sv);
  put(0xFFFF0, "\xEA\x5B\xE0\x00\xF0"sv);  // jmp far F000:E05B
  put(0xFFFF5, "12/08/26"sv);
  put(0xFFFFE, "\xFC"sv);
  return rom;
}

// What unwritten RAM and addresses with nothing behind them read, a page at a time.
constexpr std::array<std::uint8_t, 4096> UnwrittenRam{};
constexpr std::array<std::uint8_t, 4096> NothingThere = [] {
  std::array<std::uint8_t, 4096> page{};
  page.fill(0xFF);
  return page;
}();

template <std::size_t N>
unsigned installed(const std::array<std::uint16_t, N>& bases) {
  return static_cast<unsigned>(std::count_if(bases.begin(), bases.end(), [](std::uint16_t base) { return base != 0; }));
}

}  // namespace

MemoryMap default_memory_map() {
  MemoryMap map;
  map.ram.push_back({0, ConventionalLimit});
  map.ram.push_back({0x100000, 0x700000});  // extended memory, 1 MiB to 8 MiB
  map.rom.push_back({BiosRomBase, bios_rom()});
  map.device.push_back({VgaFrameBuffer, VgaFrameBufferSize});
  return map;
}

BiosDataArea default_bios_data_area() { return {{0x3F8, 0x2F8, 0, 0}, {lpt::PrimaryBase, lpt::SecondaryBase, 0}}; }

void PhysicalMemory::reset(const MemoryMap& map, const BiosDataArea& bios) {
  map_ = map;
  regions_.clear();
  last_region_ = 0;
  for (auto& table : pages_) table.reset();
  resident_pages_ = 0;
  for (const RamRegion& ram : map_.ram) regions_.push_back({ram.base, ram.base + std::uint64_t{ram.size}, Backing::Ram, nullptr, true});
  for (const RamRegion& device : map_.device)
    regions_.push_back({device.base, device.base + std::uint64_t{device.size}, Backing::Ram, nullptr, false});
  for (const RomRegion& rom : map_.rom)
    regions_.push_back({rom.base, rom.base + std::uint64_t{rom.content.size()}, Backing::Rom, rom.content.data(), false});
  std::sort(regions_.begin(), regions_.end(), [](const Region& a, const Region& b) { return a.base < b.base; });

  for (std::size_t slot = 0; slot < bios.com.size(); ++slot) write16(BdaComPorts + 2 * slot, bios.com[slot]);
  for (std::size_t slot = 0; slot < bios.lpt.size(); ++slot) write16(BdaLptPorts + 2 * slot, bios.lpt[slot]);
  write16(BdaEquipment, static_cast<std::uint16_t>(installed(bios.com) << EquipmentSerialShift |
                                                   installed(bios.lpt) << EquipmentParallelShift));
  std::uint64_t conventional = 0;
  if (!regions_.empty() && regions_.front().base == 0 && regions_.front().backing == Backing::Ram)
    conventional = std::min<std::uint64_t>(regions_.front().end, ConventionalLimit);
  write16(BdaBaseMemory, static_cast<std::uint16_t>(conventional / 1024));
}

bool PhysicalMemory::holds_system_ram(std::uint64_t address, std::uint64_t length) const {
  std::uint64_t end = address + length;
  address = std::max(address, FirmwarePageSize);
  if (address >= end) return false;
  return std::any_of(regions_.begin(), regions_.end(),
                     [&](const Region& region) { return region.system && region.base < end && address < region.end; });
}

PhysicalMemory::Run PhysicalMemory::run_at(std::uint64_t address) const {
  std::uint64_t page_end = (address | (PageSize - 1)) + 1;
  const Region* found = last_region_ < regions_.size() ? &regions_[last_region_] : nullptr;
  if (!found || address < found->base || address >= found->end) {
    auto region = std::find_if(regions_.begin(), regions_.end(), [address](const Region& r) { return address < r.end; });
    if (region == regions_.end() || address < region->base) {
      std::uint64_t end = region == regions_.end() ? page_end : std::min(page_end, region->base);
      return {Backing::None, end - address, nullptr};
    }
    last_region_ = static_cast<std::size_t>(region - regions_.begin());
    found = &*region;
  }
  return {found->backing, std::min(page_end, found->end) - address, found->rom ? found->rom + (address - found->base) : nullptr};
}


const PhysicalMemory::Page* PhysicalMemory::page_at(std::uint64_t address) const {
  std::uint64_t page = address / PageSize;
  const std::unique_ptr<PageTable>& table = pages_[page / PagesPerTable];
  return table ? (*table)[page % PagesPerTable].get() : nullptr;
}

PhysicalMemory::Page& PhysicalMemory::page_for_writing(std::uint64_t address) {
  std::uint64_t page = address / PageSize;
  std::unique_ptr<PageTable>& table = pages_[page / PagesPerTable];
  if (!table) table = std::make_unique<PageTable>();
  std::unique_ptr<Page>& entry = (*table)[page % PagesPerTable];
  if (!entry) {
    entry = std::make_unique<Page>();  // zero-filled
    ++resident_pages_;
  }
  return *entry;
}

std::span<const std::uint8_t> PhysicalMemory::view(std::uint64_t address, std::uint64_t length) const {
  Run run = run_at(address);
  std::size_t size = std::min(run.length, length);
  switch (run.backing) {
    case Backing::Rom:
      return {run.rom, size};
    case Backing::Ram:
      if (const Page* page = page_at(address)) return {page->data() + address % PageSize, size};
      return {UnwrittenRam.data(), size};
    case Backing::None:
      break;
  }
  return {NothingThere.data(), size};
}

void PhysicalMemory::read(std::uint32_t address, std::span<std::uint8_t> bytes) const {
  for (std::size_t position = 0; position < bytes.size();) {
    std::span<const std::uint8_t> piece = view(address + std::uint64_t{position}, bytes.size() - position);
    std::memcpy(bytes.data() + position, piece.data(), piece.size());
    position += piece.size();
  }
}

void PhysicalMemory::write(std::uint32_t address, std::span<const std::uint8_t> bytes) {
  for (std::size_t position = 0; position < bytes.size();) {
    std::uint64_t at = address + std::uint64_t{position};
    Run run = run_at(at);
    std::size_t size = std::min<std::uint64_t>(run.length, bytes.size() - position);
    if (run.backing == Backing::Ram) std::memcpy(page_for_writing(at).data() + at % PageSize, bytes.data() + position, size);
    position += size;
  }
}

std::uint8_t PhysicalMemory::read8(std::uint32_t address) const {
  std::uint8_t byte;
  read(address, {&byte, 1});
  return byte;
}

std::uint16_t PhysicalMemory::read16(std::uint32_t address) const {
  return static_cast<std::uint16_t>(read8(address) | read8(address + 1) << 8);
}

std::uint32_t PhysicalMemory::read32(std::uint32_t address) const {
  return read16(address) | std::uint32_t{read16(address + 2)} << 16;
}

void PhysicalMemory::write16(std::uint32_t address, std::uint16_t value) {
  const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)};
  write(address, bytes);
}

}  // namespace ferrox::vpc

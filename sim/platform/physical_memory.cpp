// The virtual PC's physical address space and the default machine's memory map.
#include "ferrox/vpc/platform/physical_memory.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace vpc {

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

BiosDataArea default_bios_data_area() { return {{0x3F8, 0x2F8, 0, 0}, {0x378, 0x278, 0}}; }

void PhysicalMemory::reset(const MemoryMap& map, const BiosDataArea& bios) {
  map_ = map;
  regions_.clear();
  pages_.clear();
  for (const RamRegion& ram : map_.ram)
    regions_[ram.base] = {ram.base + std::uint64_t{ram.size}, Backing::Ram, nullptr, true};
  for (const RamRegion& device : map_.device)
    regions_[device.base] = {device.base + std::uint64_t{device.size}, Backing::Ram, nullptr, false};
  for (const RomRegion& rom : map_.rom) regions_[rom.base] = {rom.base + std::uint64_t{rom.content.size()}, Backing::Rom, &rom.content};

  for (std::size_t slot = 0; slot < bios.com.size(); ++slot) write16(BdaComPorts + 2 * slot, bios.com[slot]);
  for (std::size_t slot = 0; slot < bios.lpt.size(); ++slot) write16(BdaLptPorts + 2 * slot, bios.lpt[slot]);
  write16(BdaEquipment, static_cast<std::uint16_t>(installed(bios.com) << EquipmentSerialShift |
                                                   installed(bios.lpt) << EquipmentParallelShift));
  std::uint64_t conventional = 0;
  if (auto low = regions_.find(0); low != regions_.end() && low->second.backing == Backing::Ram)
    conventional = std::min<std::uint64_t>(low->second.end, ConventionalLimit);
  write16(BdaBaseMemory, static_cast<std::uint16_t>(conventional / 1024));
}

bool PhysicalMemory::holds_system_ram(std::uint64_t address, std::uint64_t length) const {
  std::uint64_t end = address + length;
  address = std::max(address, FirmwarePageSize);
  if (address >= end) return false;
  auto region = regions_.upper_bound(address);
  if (region != regions_.begin()) --region;
  for (; region != regions_.end() && region->first < end; ++region)
    if (region->second.system && region->second.end > address) return true;
  return false;
}

PhysicalMemory::Run PhysicalMemory::run_at(std::uint64_t address) const {
  std::uint64_t limit = (address / PageSize + 1) * PageSize;
  auto next = regions_.upper_bound(address);
  if (next != regions_.end()) limit = std::min(limit, next->first);
  if (next != regions_.begin()) {
    auto region = std::prev(next);
    if (address < region->second.end) {
      const Region& found = region->second;
      const std::uint8_t* rom = found.rom ? found.rom->data() + (address - region->first) : nullptr;
      return {found.backing, std::min(limit, found.end) - address, rom};
    }
  }
  return {Backing::None, limit - address, nullptr};
}

template <class Visit>
void PhysicalMemory::for_each_run(std::uint64_t address, std::size_t length, Visit visit) const {
  std::size_t position = 0;
  while (position < length) {
    Run run = run_at(address + position);
    run.length = std::min<std::uint64_t>(run.length, length - position);
    visit(run, address + position, position);
    position += run.length;
  }
}

void PhysicalMemory::read(std::uint32_t address, std::span<std::uint8_t> bytes) const {
  for_each_run(address, bytes.size(), [&](const Run& run, std::uint64_t at, std::size_t position) {
    std::uint8_t* out = bytes.data() + position;
    switch (run.backing) {
      case Backing::None:
        std::memset(out, 0xFF, run.length);
        break;
      case Backing::Rom:
        std::memcpy(out, run.rom, run.length);
        break;
      case Backing::Ram:
        auto page = pages_.find(at / PageSize);
        if (page == pages_.end()) std::memset(out, 0, run.length);
        else std::memcpy(out, page->second->data() + at % PageSize, run.length);
        break;
    }
  });
}

void PhysicalMemory::write(std::uint32_t address, std::span<const std::uint8_t> bytes) {
  for_each_run(address, bytes.size(), [&](const Run& run, std::uint64_t at, std::size_t position) {
    if (run.backing != Backing::Ram) return;
    std::unique_ptr<Page>& page = pages_[at / PageSize];
    if (!page) page = std::make_unique<Page>();  // zero-filled
    std::memcpy(page->data() + at % PageSize, bytes.data() + position, run.length);
  });
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

}  // namespace vpc

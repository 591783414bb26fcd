// SPDX-License-Identifier: MIT
// A PCI function's configuration space, and which of its bits software can change. Registers past
// the 64-byte header belong to each device alone and stay read-only.
#include "ferrox/vpc/pci/pci_function.h"

#include <bit>

#include "ferrox/hwtypes/PciHeader.h"

namespace ferrox::vpc {

namespace {

struct PciRegisterMasks {
  PciConfigBytes writable{};      // 1: the bit takes the value written
  PciConfigBytes clear_on_one{};  // 1: writing 1 clears the bit
};

// Header registers common to every layout.
using pci_header::BaseAddress0;
using pci_header::CacheLineSize;
using pci_header::Command;
using pci_header::HeaderType;
using pci_header::InterruptLine;
using pci_header::LatencyTimer;
using pci_header::Status;

// Layout 0 (ordinary function).
constexpr unsigned FunctionBarCount = 6;
constexpr unsigned FunctionRom = 0x30;

// Layout 1 (PCI-to-PCI bridge).
constexpr unsigned BridgeBarCount = 2;
constexpr unsigned BridgeBusNumbers = 0x18;  // primary, secondary, subordinate, secondary latency
constexpr unsigned BridgeIoBase = 0x1C;      // base and limit bytes; low nibble 1: 32-bit decode
constexpr unsigned BridgeSecondaryStatus = 0x1E;
constexpr unsigned BridgeMemoryWindow = 0x20;      // base and limit words
constexpr unsigned BridgePrefetchWindow = 0x24;    // base and limit words; low nibble 1: 64-bit
constexpr unsigned BridgePrefetchUpper = 0x28;     // upper base and upper limit dwords
constexpr unsigned BridgeIoUpper = 0x30;           // upper base and upper limit words
constexpr unsigned BridgeRom = 0x38;
constexpr unsigned BridgeControl = 0x3E;

// Command bits a function lets software set: I/O space, memory space, bus master, parity error
// response, SERR# enable, interrupt disable.
constexpr std::uint32_t CommandWritable = 0x0547;
// Status bits that record errors and are cleared by writing 1: master data parity error,
// signalled target abort, received target abort, received master abort, signalled system error,
// detected parity error. The rest of the status register is read-only.
constexpr std::uint32_t StatusErrorBits = 0xF900;

constexpr std::uint32_t IoBarTypeBits = 0x3;
constexpr std::uint32_t MemoryBarTypeBits = 0xF;
constexpr std::uint32_t Memory64Type = 0x4;  // bits 2:1 = 10b: the next register holds the upper half
constexpr std::uint32_t RomAddressMask = 0xFFFFF800;
constexpr std::uint32_t RomEnable = 0x1;

void set_bits(PciConfigBytes& mask, unsigned offset, unsigned width, std::uint32_t bits) {
  for (unsigned i = 0; i < width; ++i) mask[offset + i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

std::uint32_t config_dword(const PciConfigBytes& config, unsigned offset) {
  return config[offset] | config[offset + 1] << 8 | config[offset + 2] << 16 |
         static_cast<std::uint32_t>(config[offset + 3]) << 24;
}

// A region is decodable when its size is a power of two at least as large as the register's
// read-only low bits; anything else (a missing or odd size) leaves the register read-only.
bool decodable(std::uint64_t size, std::uint32_t low_bits) { return std::has_single_bit(size) && size > low_bits; }

// A base address register keeps the address bits above its region's size: writing all ones and
// reading back gives the size mask with the read-only type bits.
void set_bar_masks(PciConfigBytes& writable, const PciFunctionImage& image, unsigned bar_count) {
  for (unsigned bar = 0; bar < bar_count; ++bar) {
    unsigned offset = BaseAddress0 + 4 * bar;
    std::uint32_t value = config_dword(image.config, offset);
    std::uint64_t size = image.region_sizes[bar];
    bool io = value & 1;
    std::uint32_t type_bits = io ? IoBarTypeBits : MemoryBarTypeBits;
    if (!decodable(size, type_bits)) continue;
    std::uint64_t address_bits = ~(size - 1) & ~std::uint64_t{type_bits};
    set_bits(writable, offset, 4, static_cast<std::uint32_t>(address_bits));
    if (!io && (value & 0x6) == Memory64Type && bar + 1 < bar_count) {
      set_bits(writable, offset + 4, 4, static_cast<std::uint32_t>(address_bits >> 32));
      ++bar;
    }
  }
}

void set_rom_mask(PciConfigBytes& writable, const PciFunctionImage& image, unsigned offset) {
  std::uint64_t size = image.region_sizes[PciRomRegion];
  if (!decodable(size, ~RomAddressMask)) return;
  set_bits(writable, offset, 4, (static_cast<std::uint32_t>(~(size - 1)) & RomAddressMask) | RomEnable);
}

void set_bridge_masks(PciRegisterMasks& masks, const PciFunctionImage& image) {
  set_bits(masks.writable, BridgeBusNumbers, 4, 0xFFFFFFFF);
  set_bits(masks.writable, BridgeIoBase, 2, 0xF0F0);
  set_bits(masks.clear_on_one, BridgeSecondaryStatus, 2, StatusErrorBits);
  set_bits(masks.writable, BridgeMemoryWindow, 4, 0xFFF0FFF0);
  set_bits(masks.writable, BridgePrefetchWindow, 4, 0xFFF0FFF0);
  // The upper halves of the windows exist only where the bridge decodes 64-bit prefetchable
  // memory or 32-bit I/O addresses, as the low nibble of the base register says.
  if ((image.config[BridgePrefetchWindow] & 0xF) == 1) {
    set_bits(masks.writable, BridgePrefetchUpper, 4, 0xFFFFFFFF);
    set_bits(masks.writable, BridgePrefetchUpper + 4, 4, 0xFFFFFFFF);
  }
  if ((image.config[BridgeIoBase] & 0xF) == 1) set_bits(masks.writable, BridgeIoUpper, 4, 0xFFFFFFFF);
  set_bits(masks.writable, BridgeControl, 2, 0x0FFF);
}

PciRegisterMasks pci_register_masks(const PciFunctionImage& image) {
  PciRegisterMasks masks;
  set_bits(masks.writable, Command, 2, CommandWritable);
  set_bits(masks.clear_on_one, Status, 2, StatusErrorBits);
  set_bits(masks.writable, CacheLineSize, 1, 0xFF);
  set_bits(masks.writable, LatencyTimer, 1, 0xFF);
  set_bits(masks.writable, InterruptLine, 1, 0xFF);
  switch (image.config[HeaderType] & 0x7F) {
    case 0:
      set_bar_masks(masks.writable, image, FunctionBarCount);
      set_rom_mask(masks.writable, image, FunctionRom);
      break;
    case 1:
      set_bar_masks(masks.writable, image, BridgeBarCount);
      set_rom_mask(masks.writable, image, BridgeRom);
      set_bridge_masks(masks, image);
      break;
    default:  // other layouts: only the registers common to all
      break;
  }
  return masks;
}

}  // namespace

PciFunction::PciFunction(const PciFunctionImage& image) : location_(image.location), config_(image.config) {
  PciRegisterMasks masks = pci_register_masks(image);
  writable_ = masks.writable;
  clear_on_one_ = masks.clear_on_one;
}

std::uint32_t PciFunction::read(unsigned offset, unsigned width) const {
  std::uint32_t value = 0;
  for (unsigned i = 0; i < width; ++i) {
    std::uint32_t byte = offset + i < PciConfigSize ? config_[offset + i] : 0xFF;
    value |= byte << (8 * i);
  }
  return value;
}

// Every register bit behaves on its own (read-only, read-write or write-1-to-clear), so a write of
// any width is the same as writing its bytes one by one.
void PciFunction::write(unsigned offset, unsigned width, std::uint32_t value) {
  for (unsigned i = 0; i < width; ++i) {
    if (offset + i < PciConfigSize) write_byte(offset + i, static_cast<std::uint8_t>(value >> (8 * i)));
  }
}

void PciFunction::write_byte(unsigned offset, std::uint8_t value) {
  std::uint8_t kept = config_[offset] & ~writable_[offset];
  std::uint8_t taken = value & writable_[offset];
  std::uint8_t cleared = value & clear_on_one_[offset];
  config_[offset] = static_cast<std::uint8_t>((kept | taken) & ~cleared);
}

}  // namespace ferrox::vpc

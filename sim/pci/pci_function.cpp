// A PCI function's configuration space.
#include "ferrox/vpc/pci/pci_function.h"

#include "ferrox/vpc/pci/pci_register_masks.h"

namespace vpc {

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

}  // namespace vpc

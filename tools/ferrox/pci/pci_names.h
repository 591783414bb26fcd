// SPDX-License-Identifier: MIT
// Names of PCI vendors, devices and classes from the system's PCI ID file (pci.ids), through
// libpci's lookup: the same names, in the same words, as lspci prints.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct pci_access;

namespace ferrox_tool {

// How a line names a function: as lspci does, as lspci -n, as lspci -nn.
enum class Naming { Names, Numbers, Both };

class PciNames final {
 public:
  PciNames();
  ~PciNames();
  PciNames(const PciNames&) = delete;
  PciNames& operator=(const PciNames&) = delete;

  // "Ethernet controller", "0200" or "Ethernet controller [0200]"; class_id is class << 8 | subclass.
  std::string class_text(std::uint16_t class_id, Naming naming);
  // "Intel Corporation 82540EM Gigabit Ethernet Controller", "8086:100e", or both.
  std::string device_text(std::uint16_t vendor, std::uint16_t device, Naming naming);

  // The database's own names, or nothing where it has none.
  std::optional<std::string> vendor_name(std::uint16_t vendor);
  std::optional<std::string> device_name(std::uint16_t vendor, std::uint16_t device);
  std::optional<std::string> class_name(std::uint16_t class_id);

 private:
  std::optional<std::string> lookup(int flags, unsigned first, unsigned second = 0);

  pci_access* access_;
};

}  // namespace ferrox_tool

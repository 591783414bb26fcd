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

// What a function says it is, with the subsystem (card maker and model) its header gives.
struct PciIds {
  std::uint16_t vendor = 0, device = 0, subsystem_vendor = 0, subsystem_device = 0;
};

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
  // The parts apart, as lspci -mm gives them: "Intel Corporation" or "8086"; "82540EM ..." or "100e".
  std::string vendor_text(std::uint16_t vendor, Naming naming);
  std::string device_only_text(std::uint16_t vendor, std::uint16_t device, Naming naming);
  // The subsystem of a function: its vendor and device together ("Red Hat, Inc. QEMU Virtual
  // Machine"), its vendor alone and its device alone.
  std::string subsystem_text(const PciIds& ids, Naming naming);
  std::string subsystem_vendor_text(const PciIds& ids, Naming naming);
  std::string subsystem_device_text(const PciIds& ids, Naming naming);

  // The database's own names, or nothing where it has none.
  std::optional<std::string> vendor_name(std::uint16_t vendor);
  std::optional<std::string> device_name(std::uint16_t vendor, std::uint16_t device);
  std::optional<std::string> class_name(std::uint16_t class_id);
  std::optional<std::string> programming_interface_name(std::uint16_t class_id, std::uint8_t prog_if);

 private:
  std::optional<std::string> lookup(int flags, unsigned first, unsigned second = 0, unsigned third = 0,
                                    unsigned fourth = 0);

  pci_access* access_;
};

}  // namespace ferrox_tool

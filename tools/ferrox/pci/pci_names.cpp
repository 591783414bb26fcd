// SPDX-License-Identifier: MIT
// The lookups, with libpci's own warnings kept quiet: a missing database gives numbers, as in lspci.
#include "tools/ferrox/pci/pci_names.h"

extern "C" {
#include <pci/pci.h>
}

namespace ferrox_tool {

namespace {

void quiet(char*, ...) {}

int naming_flags(Naming naming) {
  if (naming == Naming::Numbers) return PCI_LOOKUP_NUMERIC;
  return naming == Naming::Both ? PCI_LOOKUP_MIXED : 0;
}

}  // namespace

// Only names are looked up, so no access method is chosen (pci_init would look for hardware);
// the messages pci_init would otherwise set up are given here.
PciNames::PciNames() : access_(pci_alloc()) {
  access_->warning = quiet;
  access_->debug = quiet;
}

PciNames::~PciNames() { pci_cleanup(access_); }

std::optional<std::string> PciNames::lookup(int flags, unsigned first, unsigned second, unsigned third, unsigned fourth) {
  char buffer[256];
  // The names of the PCI ID file alone: udev's database holds the same, but its lookups leak.
  const char* name =
      pci_lookup_name(access_, buffer, sizeof buffer, flags | PCI_LOOKUP_NO_HWDB, first, second, third, fourth);
  if (!name) return {};
  return std::string(name);
}

std::string PciNames::class_text(std::uint16_t class_id, Naming naming) {
  return lookup(PCI_LOOKUP_CLASS | naming_flags(naming), class_id).value_or("");
}

std::string PciNames::device_text(std::uint16_t vendor, std::uint16_t device, Naming naming) {
  return lookup(PCI_LOOKUP_VENDOR | PCI_LOOKUP_DEVICE | naming_flags(naming), vendor, device).value_or("");
}

std::string PciNames::vendor_text(std::uint16_t vendor, Naming naming) {
  return lookup(PCI_LOOKUP_VENDOR | naming_flags(naming), vendor).value_or("");
}

std::string PciNames::device_only_text(std::uint16_t vendor, std::uint16_t device, Naming naming) {
  return lookup(PCI_LOOKUP_DEVICE | naming_flags(naming), vendor, device).value_or("");
}

std::string PciNames::subsystem_text(const PciIds& ids, Naming naming) {
  return lookup(PCI_LOOKUP_SUBSYSTEM | PCI_LOOKUP_VENDOR | PCI_LOOKUP_DEVICE | naming_flags(naming), ids.vendor,
                ids.device, ids.subsystem_vendor, ids.subsystem_device)
      .value_or("");
}

std::string PciNames::subsystem_vendor_text(const PciIds& ids, Naming naming) {
  return lookup(PCI_LOOKUP_SUBSYSTEM | PCI_LOOKUP_VENDOR | naming_flags(naming), ids.subsystem_vendor).value_or("");
}

std::string PciNames::subsystem_device_text(const PciIds& ids, Naming naming) {
  return lookup(PCI_LOOKUP_SUBSYSTEM | PCI_LOOKUP_DEVICE | naming_flags(naming), ids.vendor, ids.device,
                ids.subsystem_vendor, ids.subsystem_device)
      .value_or("");
}

std::optional<std::string> PciNames::vendor_name(std::uint16_t vendor) {
  return lookup(PCI_LOOKUP_VENDOR | PCI_LOOKUP_NO_NUMBERS, vendor);
}

std::optional<std::string> PciNames::device_name(std::uint16_t vendor, std::uint16_t device) {
  return lookup(PCI_LOOKUP_DEVICE | PCI_LOOKUP_NO_NUMBERS, vendor, device);
}

std::optional<std::string> PciNames::class_name(std::uint16_t class_id) {
  return lookup(PCI_LOOKUP_CLASS | PCI_LOOKUP_NO_NUMBERS, class_id);
}

std::optional<std::string> PciNames::programming_interface_name(std::uint16_t class_id, std::uint8_t prog_if) {
  return lookup(PCI_LOOKUP_PROGIF | PCI_LOOKUP_NO_NUMBERS, class_id, prog_if);
}

}  // namespace ferrox_tool

// SPDX-License-Identifier: MIT
// The hardware's names.
#include "ferrox/recording/hardware_names.h"

#include <cstdio>
#include <iterator>

#include "ferrox/hwtypes/PcHardware.h"

namespace ferrox::recording {

namespace {

std::string hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%#x", value);
  return text;
}

std::string yes_no(bool on) { return on ? "yes" : "no"; }
std::string active(bool on) { return on ? "active" : "inactive"; }

// The status register: busy, acknowledge and error are low-active lines, and the port inverts
// busy on its way in, so a set bit means not busy.
std::string parallel_status(std::uint32_t value) {
  using namespace lpt;
  return "busy " + yes_no(!(value & NotBusy)) + ", acknowledge " + active(!(value & Acknowledge)) + ", paper end " +
         yes_no(value & PaperEnd) + ", select " + yes_no(value & Select) + ", error " + active(!(value & Error));
}

// The control register: the port inverts strobe, auto feed and select in on their way out, so a
// set bit drives the line low, which is active; init is not inverted and is active when its bit is
// clear.
std::string parallel_control(std::uint32_t value) {
  using namespace lpt;
  return "strobe " + active(value & Strobe) + ", auto feed " + active(value & AutoFeed) + ", init " +
         active(!(value & Init)) + ", select in " + active(value & SelectIn) + ", interrupt on acknowledge " +
         yes_no(value & IrqEnable) + ", read mode " + yes_no(value & Direction);
}

std::string parallel_name(std::uint32_t base, std::uint32_t offset, std::optional<std::uint32_t> value) {
  std::string name = "parallel port " + hex(base);
  if (offset == lpt::Data) return name + " data";
  if (offset == lpt::Status) return name + " status" + (value ? ": " + parallel_status(*value) : "");
  return name + " control" + (value ? ": " + parallel_control(*value) : "");
}

std::string ata_status(std::uint32_t value) {
  static constexpr struct {
    std::uint32_t bit;
    const char* name;
  } bits[] = {{ata::Busy, "busy"}, {ata::DriveReady, "ready"}, {ata::DeviceFault, "fault"},
              {ata::DataRequest, "data request"}, {ata::Err, "error"}};
  std::string set;
  for (const auto& bit : bits)
    if (value & bit.bit) set += (set.empty() ? "" : ", ") + std::string(bit.name);
  return set.empty() ? "none set" : set;
}

std::string ata_name(std::uint32_t offset, bool output, std::optional<std::uint32_t> value) {
  static const char* const inputs[] = {"data", "error", "sector count", "lba low", "lba mid", "lba high", "drive/head", "status"};
  static const char* const outputs[] = {"data", "features", "sector count", "lba low", "lba mid", "lba high", "drive/head", "command"};
  std::string name = std::string("ata primary ") + (output ? outputs : inputs)[offset];
  if (offset == ata::StatusCommand && value && !output) name += ": " + ata_status(*value);
  if (offset == ata::StatusCommand && value && output && *value == ata::IdentifyDevice) name += ": identify device";
  return name;
}

std::string pci_address(std::uint32_t value) {
  if (!(value & pci_config::AddressEnable)) return "off";
  char text[64];
  std::snprintf(text, sizeof text, "%02x:%02x.%x register %#x", (value >> 16) & 0xFF, (value >> 11) & 0x1F,
                (value >> 8) & 7, value & 0xFC);
  return text;
}

}  // namespace

std::string port_name(std::uint32_t port, bool output, std::optional<std::uint32_t> value) {
  for (std::uint32_t base : lpt::StandardBases)
    if (port >= base && port < base + lpt::RegisterCount) return parallel_name(base, port - base, value);
  if (port >= ata::CommandBlock && port < ata::CommandBlock + ata::CommandBlockLength)
    return ata_name(port - ata::CommandBlock, output, value);
  if (port == ata::ControlBlock) {
    std::string name = output ? "ata primary device control" : "ata primary alternate status";
    return value && !output ? name + ": " + ata_status(*value) : name;
  }
  if (port == pci_config::AddressPort)
    return std::string("pci configuration address") + (value ? ": " + pci_address(*value) : "");
  if (port >= pci_config::DataPort && port < pci_config::AddressPort + pci_config::PortsLength)
    return "pci configuration data";
  return "";
}

std::string pci_register_name(unsigned offset, unsigned width) {
  static constexpr struct {
    unsigned offset;
    const char* name;
  } header[] = {{0x00, "vendor id"},     {0x02, "device id"},        {0x04, "command"},       {0x06, "status"},
                {0x08, "revision id"},   {0x09, "programming interface"}, {0x0A, "subclass"}, {0x0B, "class"},
                {0x0C, "cache line size"}, {0x0D, "latency timer"},  {0x0E, "header type"},   {0x0F, "bist"},
                {0x10, "bar 0"},         {0x14, "bar 1"},            {0x18, "bar 2"},         {0x1C, "bar 3"},
                {0x20, "bar 4"},         {0x24, "bar 5"},            {0x28, "cardbus cis"},   {0x2C, "subsystem vendor id"},
                {0x2E, "subsystem id"},  {0x30, "expansion rom"},    {0x34, "capabilities"},  {0x3C, "interrupt line"},
                {0x3D, "interrupt pin"}, {0x3E, "min grant"},        {0x3F, "max latency"}};
  std::string names;
  for (const auto& field : header)
    if (field.offset >= offset && field.offset < offset + width)
      names += (names.empty() ? "" : ", ") + std::string(field.name);
  if (names.empty() && offset < 0x40)
    for (auto field = std::rbegin(header); field != std::rend(header); ++field)
      if (field->offset < offset) return std::string(field->name) + " (part)";
  return names;
}

}  // namespace ferrox::recording

// SPDX-License-Identifier: MIT
// Devices behind the ports and in PCI configuration space: the IDE disk's identity, read as a
// block of 256 words from one port, and the chipset's configuration headers and registers.
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ata.h"
#include "common/check.h"
#include "common/emulated_pc.h"
#include "scenarios.h"

namespace e2e {
namespace {

std::vector<char> sysfs_config(const char* function) {
  std::ifstream file(std::string("/sys/bus/pci/devices/") + function + "/config", std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::uint32_t read_register(const Driver& driver, int device, int reg, int width) {
  auto request = contract::pci_request(0, device, 0, reg, width);
  return static_cast<std::uint32_t>(driver.pci(ferrox::Request::PciRead, request).result);
}

void write_register(const Driver& driver, int device, int reg, int width, std::uint32_t value) {
  auto request = contract::pci_request(0, device, 0, reg, width, value);
  CHECK_EQ(driver.pci(ferrox::Request::PciWrite, request).result, 0);
}

void header_of_present_function(const Driver& driver, int device, std::uint16_t vendor, std::uint16_t id,
                                std::uint8_t class_code, std::uint8_t subclass, const char* sysfs_name) {
  auto request = contract::pci_request(0, device, 0, 0, ferrox::PciHeaderCount);
  CHECK_EQ(driver.pci(ferrox::Request::PciRead, request).result, 1);
  ferrox::TPciCfg header;
  std::memcpy(&header, &request, sizeof(header));
  CHECK_EQ(header.VendorID, vendor);
  CHECK_EQ(header.DeviceID, id);
  CHECK_EQ(header.ClassCode, class_code);
  CHECK_EQ(header.SubClass, subclass);
  auto reference = sysfs_config(sysfs_name);
  CHECK(reference.size() >= sizeof(header) && std::memcmp(reference.data(), &header, sizeof(header)) == 0);
}

}  // namespace

void ata_identify(PortPath& path) {
  scenario((std::string("ATA IDENTIFY of the primary master, ") + path.name()).c_str());
  ata::Identity identity = ata::identify_primary_master(path);
  CHECK(identity.answered);
  CHECK(identity.drained);  // exactly 256 words were waiting
  CHECK(!(identity.words[0] & 0x8000));  // an ATA device, not ATAPI
  CHECK(identity.model() == DiskModel);
}

void pci_configuration(const Driver& driver) {
  scenario("PCI configuration headers");
  header_of_present_function(driver, 0, 0x8086, 0x1237, 0x06, 0x00, "0000:00:00.0");  // host bridge
  header_of_present_function(driver, 1, 0x8086, 0x7000, 0x06, 0x01, "0000:00:01.0");  // ISA bridge

  scenario("PCI configuration registers");
  CHECK_EQ(read_register(driver, 0, 0x00, 4), 0x12378086);
  CHECK_EQ(read_register(driver, 0, 0x02, 2), 0x1237);
  CHECK_EQ(read_register(driver, 0, 0x00, 1), 0x86);
  CHECK_EQ(read_register(driver, 0, 0x0B, 1), 0x06);
  // This chipset gives the kernel no extended space: past 0xff reads all ones, and takes no write.
  CHECK_EQ(read_register(driver, 0, 0x100, 4), 0xFFFFFFFF);
  auto beyond = contract::pci_request(0, 0, 0, 0x100, 4, 0);
  CHECK(driver.pci(ferrox::Request::PciWrite, beyond).failed_with(EINVAL));

  // The interrupt line register (0x3C) is a plain scratch byte on every function.
  constexpr int InterruptLine = 0x3C;
  std::uint32_t original = read_register(driver, 0, InterruptLine, 1);
  write_register(driver, 0, InterruptLine, 1, 0x5A);
  CHECK_EQ(read_register(driver, 0, InterruptLine, 1), 0x5A);
  CHECK_EQ(static_cast<std::uint8_t>(sysfs_config("0000:00:00.0").at(InterruptLine)), 0x5A);
  write_register(driver, 0, InterruptLine, 2, 0x0077);
  CHECK_EQ(read_register(driver, 0, InterruptLine, 1), 0x77);
  write_register(driver, 0, InterruptLine, 4, 0x00000066);
  CHECK_EQ(read_register(driver, 0, InterruptLine, 1), 0x66);
  write_register(driver, 0, InterruptLine, 1, original);
  CHECK_EQ(read_register(driver, 0, InterruptLine, 1), original);
}

}  // namespace e2e

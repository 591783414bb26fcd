// SPDX-License-Identifier: MIT
// What the driver keeps user space away from, with the kernel's own answer as the reference: every
// window at the edges of /proc/iomem's ranges maps and reads as /dev/mem does (the driver refuses
// the RAM pages of the first MiB, which /dev/mem shows as zeros); memory a
// driver claims after the map is refused at the next transfer; the registers of a function bound
// to a kernel driver are refused, through request 17 and the PCI configuration ports, which keep an
// address per descriptor.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "common/check.h"
#include "common/dev_mem.h"
#include "common/kernel_module.h"
#include "common/memory_policy.h"
#include "scenarios.h"

namespace e2e {
namespace {

namespace Request = ferrox::Request;

constexpr const char* Helper = "ferrox_e2e_helper";
constexpr std::uint64_t PhysLimit = 1ull << 32;  // windows are named by 32-bit addresses
constexpr std::uint32_t UnclaimedBusMemory = 0x10000000;  // past the RAM, in the PCI bus's window

// One window compared with /dev/mem: mapped exactly when /dev/mem maps its pages (but for RAM in
// the first MiB), read whole when mapped, with the bytes /dev/mem reads where its reads reach.
bool window_as_dev_mem(const Driver& driver, const std::vector<IomemRange>& iomem, std::uint32_t phys,
                       std::uint32_t size) {
  std::uint32_t window = driver.map(phys, size);
  bool expected = driver_maps(iomem, phys, size);
  bool same = (window != 0) == expected;
  if (window != 0) {
    auto record = contract::make_memory_record(phys, window, 0, size);
    same = same && driver.request(Request::ReadWindow, record.get()).result == 0;
    auto reference = read_dev_mem(phys, size);
    same = same && (reference.empty() || std::memcmp(reference.data(), record->Data, size) == 0);
    driver.unmap(window);
  }
  if (!same) std::printf("   window 0x%08x+0x%x: driver %s, /dev/mem %s\n", phys, size, window ? "maps" : "refuses",
                         expected ? "maps" : "refuses");
  return same;
}

void windows_at_every_iomem_boundary(const Driver& driver) {
  const std::uint32_t page = static_cast<std::uint32_t>(::sysconf(_SC_PAGESIZE));
  const std::uint32_t sizes[] = {1, 2, page - 1, page, page + 1};
  const std::vector<IomemRange> ranges = iomem_ranges();
  std::set<std::uint64_t> boundaries;  // where each range starts and where it ends, below 4 GiB
  for (const IomemRange& range : ranges)
    for (std::uint64_t boundary : {range.start, range.end})
      if (boundary < PhysLimit) boundaries.insert(boundary);
  int compared = 0, differing = 0;
  for (std::uint64_t boundary : boundaries) {
    for (std::uint32_t size : sizes) {
      // The window that starts at the boundary, and the one that ends there.
      for (std::uint64_t start : {boundary, boundary - size}) {
        if (start > boundary || start + size > PhysLimit) continue;
        ++compared;
        differing += !window_as_dev_mem(driver, ranges, static_cast<std::uint32_t>(start), size);
      }
    }
  }
  std::printf("   %d windows compared with /dev/mem\n", compared);
  CHECK(compared > 100);
  CHECK_EQ(differing, 0);
}

// A window of memory nobody holds stays a window, but once a driver claims the range the next
// transfer is refused, until the driver lets it go.
void memory_claimed_after_the_map(const Driver& driver) {
  if (!CHECK(dev_mem_maps(UnclaimedBusMemory, 1))) return;
  std::uint32_t window = driver.map(UnclaimedBusMemory, 2);
  if (!CHECK(window != 0)) return;
  CHECK_EQ(driver.transfer(Request::ReadWindow, UnclaimedBusMemory, window, 0, 2).result, 0);
  char parameters[64];
  std::snprintf(parameters, sizeof parameters, "claim_start=0x%x claim_size=1", UnclaimedBusMemory + 1);
  if (CHECK(load_module(Helper, parameters))) {
    CHECK(driver.transfer(Request::ReadWindow, UnclaimedBusMemory, window, 0, 1).failed_with(EPERM));
    CHECK(driver.transfer(Request::WriteWindow, UnclaimedBusMemory, window, 1, 1).failed_with(EPERM));
    CHECK_EQ(driver.map(UnclaimedBusMemory + 1, 1), 0);
    CHECK(!dev_mem_maps(UnclaimedBusMemory + 1, 1));
    CHECK(unload_module(Helper));
  }
  CHECK_EQ(driver.transfer(Request::ReadWindow, UnclaimedBusMemory, window, 0, 2).result, 0);
  CHECK_EQ(driver.unmap(window).result, 0);
}

long pci_write(const Driver& driver, int device, int reg, int width, std::uint32_t value) {
  auto request = contract::pci_request(0, device, 0, reg, width, value);
  auto answer = driver.pci(Request::PciWrite, request);
  return answer.result == 0 ? 0 : answer.error;
}

std::uint32_t pci_read(const Driver& driver, int device, int reg, int width) {
  auto request = contract::pci_request(0, device, 0, reg, width);
  return static_cast<std::uint32_t>(driver.pci(Request::PciRead, request).result);
}

// The VGA adapter at 0:2.0 bound to the helper's driver: its COMMAND, BARs and ROM address belong
// to that driver, through request 17 and through the configuration ports alike; its interrupt line
// byte stays the program's. Unbound, they are the program's again.
void registers_of_a_bound_function(const Driver& driver) {
  constexpr int Vga = 2;
  const std::string function = "/sys/bus/pci/devices/0000:00:02.0";
  if (!CHECK(load_module(Helper))) return;
  bool bound = write_sysfs(function + "/driver_override", Helper) &&
               write_sysfs(std::string("/sys/bus/pci/drivers/") + Helper + "/bind", "0000:00:02.0");
  if (CHECK(bound)) {
    const std::uint32_t command = pci_read(driver, Vga, 0x04, 2);
    const std::uint32_t bar0 = pci_read(driver, Vga, 0x10, 4);
    const std::uint32_t rom = pci_read(driver, Vga, 0x30, 4);
    CHECK_EQ(pci_write(driver, Vga, 0x04, 2, command), EPERM);
    CHECK_EQ(pci_write(driver, Vga, 0x04, 1, command & 0xFF), EPERM);
    CHECK_EQ(pci_write(driver, Vga, 0x10, 4, bar0), EPERM);
    CHECK_EQ(pci_write(driver, Vga, 0x24, 4, 0), EPERM);  // the last BAR
    CHECK_EQ(pci_write(driver, Vga, 0x30, 4, rom), EPERM);
    CHECK_EQ(pci_write(driver, Vga, 0x3C, 1, pci_read(driver, Vga, 0x3C, 1)), 0);
    driver.port_out(4, 0xCF8, 0x80000000u | Vga << 11 | 0x04);
    ferrox::TPortRecord through_ports{0xCFC, command};
    CHECK(driver.request(Request::PortOutW, &through_ports).failed_with(EPERM));
    CHECK_EQ(pci_read(driver, Vga, 0x04, 2), command);
    CHECK_EQ(pci_read(driver, Vga, 0x10, 4), bar0);
    CHECK(write_sysfs(function + "/driver/unbind", "0000:00:02.0"));
    CHECK(write_sysfs(function + "/driver_override", "\n"));
    CHECK_EQ(pci_write(driver, Vga, 0x04, 2, command), 0);  // unbound: the program's again
  }
  CHECK(unload_module(Helper));
}

// Each descriptor keeps a configuration address of its own: another program's cycles do not move it.
void pci_configuration_ports(const Driver& driver) {
  Driver other(tally());
  driver.port_out(4, 0xCF8, 0x80000000u | 1 << 11);  // 0:1.0, the ISA bridge
  other.port_out(4, 0xCF8, 0x80000000u);              // 0:0.0, the host bridge
  CHECK_EQ(driver.port_in(4, 0xCFC), pci_read(driver, 1, 0, 4));
  CHECK_EQ(other.port_in(4, 0xCFC), pci_read(driver, 0, 0, 4));
  CHECK_EQ(driver.port_in(4, 0xCF8), 0x80000000u | 1 << 11);
}

}  // namespace

void kernel_held_resources(const Driver& driver) {
  scenario("windows at every edge of /proc/iomem, 1 byte to a page and one, as /dev/mem");
  windows_at_every_iomem_boundary(driver);
  scenario("memory a driver claims after the map is refused at the next transfer");
  memory_claimed_after_the_map(driver);
  scenario("the registers of a function bound to a kernel driver are the driver's");
  registers_of_a_bound_function(driver);
  scenario("each descriptor has a PCI configuration address of its own");
  pci_configuration_ports(driver);
}

}  // namespace e2e

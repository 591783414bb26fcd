// SPDX-License-Identifier: MIT
// The host bridge's configuration header (64 bytes) and its first double word: the library, the
// sysfs config file (the path libpci and lspci take), and /proc/bus/pci.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "common/check.h"
#include "peers/peers.h"

namespace peers {

namespace {

constexpr const char* SysfsConfig = "/sys/bus/pci/devices/0000:00:00.0/config";
constexpr const char* ProcConfig = "/proc/bus/pci/00/00.0";
constexpr std::size_t HeaderSize = sizeof(ferrox::TPciCfg);

// A configuration file that gives the same header as the library did, or -1.
int open_config(const char* path, const ferrox::TPciCfg& header) {
  int file = open(path, O_RDONLY | O_CLOEXEC);
  unsigned char bytes[HeaderSize] = {};
  if (CHECK(file >= 0))
    CHECK(pread(file, bytes, sizeof bytes, 0) == sizeof bytes && std::memcmp(bytes, &header, sizeof bytes) == 0);
  return file;
}

void read_config(int file, std::size_t count) {
  unsigned char bytes[HeaderSize];
  pread(file, bytes, count, 0);
}

}  // namespace

void pci_reads(ferrox::TFerrox32& component, const Budget& budget) {
  ferrox::TPciCfg header{};
  if (!CHECK(component.PciDeviceInfo(0, 0, 0, header))) return;
  std::uint32_t first;
  std::memcpy(&first, &header, sizeof first);
  CHECK_EQ(component.PciGetDword(0, 0, 0, 0), first);
  int sysfs = open_config(SysfsConfig, header), proc = open_config(ProcConfig, header);
  time_group("PCI header (64 bytes)", budget,
             {{"ferrox", [&] { component.PciDeviceInfo(0, 0, 0, header); }},
              {"sysfs config", [&] { read_config(sysfs, HeaderSize); }},
              {"/proc/bus/pci", [&] { read_config(proc, HeaderSize); }}});
  time_group("PCI dword", budget,
             {{"ferrox", [&] { component.PciGetDword(0, 0, 0, 0); }},
              {"sysfs config", [&] { read_config(sysfs, 4); }},
              {"/proc/bus/pci", [&] { read_config(proc, 4); }}});
  close(proc);
  close(sysfs);
}

}  // namespace peers

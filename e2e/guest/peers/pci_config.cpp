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

// Times reading the header and the double word from a configuration file, checking both against
// what the library read.
void file_reads(const char* path, const char* method, const ferrox::TPciCfg& header, const Budget& budget) {
  int file = open(path, O_RDONLY | O_CLOEXEC);
  if (!CHECK(file >= 0)) return;
  unsigned char bytes[sizeof(ferrox::TPciCfg)] = {};
  CHECK(pread(file, bytes, sizeof bytes, 0) == sizeof bytes && std::memcmp(bytes, &header, sizeof bytes) == 0);
  report_time("PCI header (64 bytes)", method, time_per_call(budget, [&] { pread(file, bytes, sizeof bytes, 0); }));
  report_time("PCI dword", method, time_per_call(budget, [&] { pread(file, bytes, 4, 0); }));
  close(file);
}

}  // namespace

void pci_reads(ferrox::TFerrox32& component, const Budget& budget) {
  ferrox::TPciCfg header{};
  if (!CHECK(component.PciDeviceInfo(0, 0, 0, header))) return;
  std::uint32_t first;
  std::memcpy(&first, &header, sizeof first);
  CHECK_EQ(component.PciGetDword(0, 0, 0, 0), first);
  report_time("PCI header (64 bytes)", "ferrox",
              time_per_call(budget, [&] { component.PciDeviceInfo(0, 0, 0, header); }));
  report_time("PCI dword", "ferrox", time_per_call(budget, [&] { component.PciGetDword(0, 0, 0, 0); }));
  file_reads(SysfsConfig, "sysfs config", header, budget);
  file_reads(ProcConfig, "/proc/bus/pci", header, budget);
}

}  // namespace peers

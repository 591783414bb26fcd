// SPDX-License-Identifier: MIT
// pci-functions: the PCI functions of bus 0, each with the main fields of its configuration
// header.
//
// Build: c++ -o pci-functions pci_functions.cpp $(pkg-config --cflags --libs ferrox)
// Run:   ./pci-functions                                 on the driver, /dev/ferrox
//        LD_PRELOAD=libferrox-vpc.so.0 ./pci-functions    on the virtual PC
#include <cstdio>

#include "ferrox/component/Ferrox32.h"

namespace {

constexpr ferrox::Word DeviceCount = 32;
constexpr ferrox::Word FunctionCount = 8;
constexpr ferrox::Byte MultiFunction = 0x80;  // header type bit 7, in function 0
constexpr ferrox::Word Absent = 0xFFFF;       // the vendor an absent function reads as

void show(ferrox::Word device, ferrox::Word function, const ferrox::TPciCfg& cfg) {
  std::printf("00:%02x.%x %04x:%04x class %02x%02x%02x rev %02x, header type %02x, IRQ line %u pin %u\n", device,
              function, cfg.VendorID, cfg.DeviceID, cfg.ClassCode, cfg.SubClass, cfg.ProgIf, cfg.RevisionID,
              cfg.HeaderType, cfg.InterruptLine, cfg.InterruptPin);
  for (int bar = 0; bar < 6; ++bar)
    if (cfg.BaseAddress[bar] != 0) std::printf("  BAR%d %08x\n", bar, cfg.BaseAddress[bar]);
}

int run(ferrox::TFerrox32& pc) {
  pc.OpenDriver();
  if (!pc.DriverActive()) {
    std::fprintf(stderr, "pci-functions: cannot open /dev/ferrox: is the driver loaded, and may this user open it?\n");
    return 1;
  }
  for (ferrox::Word device = 0; device < DeviceCount; ++device) {
    for (ferrox::Word function = 0; function < FunctionCount; ++function) {
      ferrox::TPciCfg cfg;
      if (!pc.PciDeviceInfo(0, device, function, cfg) || cfg.VendorID == Absent) {
        if (function == 0) break;  // no device in this slot
        continue;
      }
      show(device, function, cfg);
      if (function == 0 && !(cfg.HeaderType & MultiFunction)) break;
    }
  }
  return 0;
}

}  // namespace

int main() {
  auto* pc = ferrox::framework::TComponent::Create<ferrox::TFerrox32>(nullptr);
  int status = run(*pc);
  pc->Free();
  return status;
}

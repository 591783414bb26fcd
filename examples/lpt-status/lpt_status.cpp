// SPDX-License-Identifier: MIT
// lpt-status: the five status lines of the first parallel port, then one byte sent to the printer
// with a strobe.
//
// Build: c++ -o lpt-status lpt_status.cpp $(pkg-config --cflags --libs ferrox)
// Run:   ./lpt-status                                 on the driver, /dev/ferrox
//        LD_PRELOAD=libferrox-vpc.so.0 ./lpt-status    on the virtual PC
#include <cstdio>

#include "ferrox/component/Ferrox32.h"

namespace {

const char* yes_no(bool value) { return value ? "yes" : "no"; }

void show_status(ferrox::TFerrox32& pc) {
  std::printf("busy %s, acknowledge %s, paper end %s, selected %s, error %s\n", yes_no(pc.fGetLPTBusy()),
              yes_no(pc.fGetLPTAckwl()), yes_no(pc.fGetLPTPaperEnd()), yes_no(!pc.fGetLPTSlct()),
              yes_no(pc.fGetLPTError()));
}

int run(ferrox::TFerrox32& pc) {
  pc.OpenDriver();
  if (!pc.DriverActive()) {
    std::fprintf(stderr, "lpt-status: cannot open /dev/ferrox: is the driver loaded, and may this user open it?\n");
    return 1;
  }
  if (pc.LPTCount() == 0) {
    std::fprintf(stderr, "lpt-status: the BIOS lists no parallel port\n");
    return 1;
  }
  pc.fSetLPTNumber(1);
  std::printf("LPT1 at 0x%03x: ", pc.LPTBase());
  show_status(pc);

  // The byte goes on the data lines (pins 2..9, the base register); the strobe tells the printer
  // to take it, and busy says it is still at work.
  const ferrox::Byte byte = 'A';
  pc.fSetPortB(pc.LPTBase(), byte);
  pc.LPTStrobe();
  std::printf("sent 0x%02x with a strobe: ", byte);
  show_status(pc);
  return 0;
}

}  // namespace

int main() {
  auto* pc = ferrox::framework::TComponent::Create<ferrox::TFerrox32>(nullptr);
  int status = run(*pc);
  pc->Free();  // closes the driver too
  return status;
}

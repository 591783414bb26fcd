// SPDX-License-Identifier: MIT
// A session on the hardware that the trace tests record and replay: a walk of PCI bus 0, a window
// read of the BIOS data area, IDENTIFY DEVICE on the primary ATA master through driver requests,
// and a line printed on the first parallel port, each byte after the interrupt of the one before.
// All of it goes through the driver, so a recording on the real driver holds every answer.
//
// Run as the ordinary suite runs it (on the virtual PC, recorded and replayed by the ferrox tool)
// and inside the emulated PC (recorded on the reference driver, tests/trace/emulated-pc-*.rec).
#pragma once

#include <string>

#include "ferrox/component/Ferrox32.h"

namespace session {

// The line printed, one byte of which `changed` alters.
constexpr const char* PrintedLine = "ferrox trace\n";

struct Options {
  bool changed = false;   // the program changed by one write: the printed line's second byte
  int pause_ms = 0;       // a wait between the PCI walk and the window read
  int extra_polls = 0;    // reads of the ATA status once the drive is ready
};

// trace_session [--changed] [--pause MS] [--extra-polls N]
Options parse_options(int argc, char** argv);

// Runs the session on the open component, saying what it found on standard output; false when a
// step did not go as the hardware should answer.
bool run(ferrox::TFerrox32& component, const Options& options);

}  // namespace session

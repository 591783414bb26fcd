// Trap and emulate: the library's real port instructions run, and on a port the process holds the
// fault they raise in user space (SIGSEGV with SI_KERNEL; SIGILL under valgrind) is caught, the
// instruction carried out on the machine's port bus, and execution resumed after it. On a port the
// process does not hold the fault stays a fault, as on real hardware.
#pragma once

#include "ferrox/vpc/Export.h"

namespace vpc {

// Installs the trap handler for SIGSEGV and SIGILL; the faults that are not port instructions on
// held ports go on to what was installed before. Does nothing while the handler is in place.
VPC_API void arm_port_trap();

}  // namespace vpc

// SPDX-License-Identifier: MIT
// TFerrox32 I/O permissions: per-port grants recorded in the module-wide table, the process's I/O
// privilege level, and the access mode behind HardAccess.
#include <sys/io.h>

#include <algorithm>
#include <mutex>

#include "ferrox/component/ComponentsLock.h"
#include "ferrox/component/Ferrox32.h"
#include "ferrox/component/ModuleRecords.h"

namespace ferrox {

namespace {

// Ports from here up are opened by raising the privilege level, the ports below it one by one.
constexpr unsigned FirstIoplPort = 0x400;
constexpr int RaisedIoplLevel = 3;
// A grant asks for the port and the three above it, enough for a double-word transfer.
constexpr unsigned long GrantSpan = 4;

}  // namespace

// iopl and ioperm count as refused on any non-zero result: EPERM without the privilege, ENOSYS on
// kernels built without I/O permission support.
bool TFerrox32::fSetIoPermission(Word Port) {
  detail::ModuleRecords& records = detail::Records();
  if (Port >= FirstIoplPort) {
    if (FIoplLevel == 0) {
      if (iopl(RaisedIoplLevel) != 0) return false;
      FIoplLevel = RaisedIoplLevel;
      records.PrivilegeRaised = true;
    }
  } else if (records.PortPermissions[Port] == 0) {
    // Each port asks for itself, even when an earlier four-port grant covers it.
    if (ioperm(Port, GrantSpan, 1) != 0) return false;
  }
  records.PortPermissions[Port] = 1;
  return true;
}

// The privilege level and the grants belong to the whole process, so they are withdrawn only when
// no other component lives that may rely on them; until then only this component's claim goes.
// The walk covers every port up to 0xFFFF: an entry left at 1 after the level is dropped would
// send a later direct access into a fault. Grants below 0x400 stay in force and stay recorded.
void TFerrox32::fResetAllPermissions() {
  std::lock_guard lock(detail::TheComponentsLock);
  FIoplLevel = 0;
  if (detail::Records().LiveComponents > 1) return;
  detail::WithdrawProcessPermissions(detail::Records());
}

void detail::WithdrawProcessPermissions(ModuleRecords& records) {
  if (records.PrivilegeRaised) {
    iopl(0);
    records.PrivilegeRaised = false;
  }
  for (unsigned port = FirstIoplPort; port < detail::PortCount; ++port) {
    if (records.PortPermissions[port] == 0) continue;
    // The kernel refuses a range that runs past the last port.
    ioperm(port, std::min<unsigned long>(GrantSpan, detail::PortCount - port), 0);
    records.PortPermissions[port] = 0;
  }
}

// The privilege level is probed whatever the choice: a process that cannot raise it cannot use
// the direct path. A raised level opens every port, so it is remembered for the last component to
// drop; FIoplLevel records only what fSetIoPermission raised.
void TFerrox32::fSetHardAccess(bool Value) {
  if (iopl(RaisedIoplLevel) != 0) {
    FHardAccess = true;
    return;
  }
  detail::Records().PrivilegeRaised = true;
  FHardAccess = Value;
}

}  // namespace ferrox

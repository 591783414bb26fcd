// SPDX-License-Identifier: MIT
// The module-wide records shared by every TFerrox32 of the process. They exist while at least one
// component lives: allocated with the first, released with the last (TFerrox32::RecordsLease).
#pragma once

#include "ferrox/hwtypes/DriverContract.h"
#include "ferrox/hwtypes/Export.h"
#include "ferrox/hwtypes/HW_Types.h"

namespace ferrox::detail {

constexpr std::size_t PciRequestSize = 256;  // the requests pass its first 64 bytes
constexpr std::size_t PortCount = 65536;

struct ModuleRecords {
  TMemRec* MapRequest = nullptr;
  TPortRecord* PortRequest = nullptr;
  TPciRequest* PciRequest = nullptr;  // head of a PciRequestSize-byte block
  Byte* PortPermissions = nullptr;    // PortCount entries, 0 or 1
  // Some component raised the process's I/O privilege level with iopl(3) (for a port from 0x400
  // up, or probing in fSetHardAccess). The level is shared by the whole process, so it is
  // remembered here and dropped when the last component goes.
  bool PrivilegeRaised = false;
  int LiveComponents = 0;
};

// The one set of the process; its pointers are valid while any component lives. A plain variable
// of the library rather than a function's static, so the port paths reach it with one load.
extern constinit FERROX_INTERNAL ModuleRecords TheModuleRecords;

inline ModuleRecords& Records() { return TheModuleRecords; }

// Drops the raised privilege level and withdraws the grants from 0x400 up, for the last component;
// under TheComponentsLock.
FERROX_INTERNAL void WithdrawProcessPermissions(ModuleRecords& records);

}  // namespace ferrox::detail

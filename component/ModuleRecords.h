// The module-wide records shared by every TFerrox32 of the process. They exist while at least one
// component lives: allocated with the first, released with the last (TFerrox32::RecordsLease).
#pragma once

#include "hwtypes/DriverContract.h"
#include "hwtypes/HW_Types.h"

namespace ferrox::detail {

constexpr std::size_t PciRequestSize = 256;  // the requests pass its first 64 bytes
constexpr std::size_t PortCount = 65536;

struct ModuleRecords {
  TMemRec* MapRequest = nullptr;
  TPortRecord* PortRequest = nullptr;
  TPciRequest* PciRequest = nullptr;  // head of a PciRequestSize-byte block
  Byte* PortPermissions = nullptr;    // PortCount entries, 0 or 1
  int LiveComponents = 0;
};

// Valid while any component lives.
ModuleRecords& Records();

}  // namespace ferrox::detail

// SPDX-License-Identifier: MIT
// TFerrox32 core: construction and destruction, the module-wide records, and the connection to
// the kernel driver.
#include <fcntl.h>
#include <unistd.h>

#include <memory>
#include <mutex>
#include <new>

#include "ferrox/component/ComponentsLock.h"
#include "ferrox/component/Ferrox32.h"
#include "ferrox/component/ModuleRecords.h"

namespace ferrox {

constinit detail::ModuleRecords detail::TheModuleRecords;
constinit detail::ComponentsLock detail::TheComponentsLock;
[[gnu::tls_model("initial-exec")]] constinit thread_local char detail::ComponentsLock::ThisThread = 0;

namespace {

// The request records are not cleared: every operation fills what it sends.
struct PciRequestBlock {
  Byte Bytes[detail::PciRequestSize];
};
static_assert(sizeof(PciRequestBlock) >= sizeof(TPciRequest));

void AllocateRecords(detail::ModuleRecords& records) {
  // Each allocation may throw; the unique_ptrs give back what was taken before it.
  auto map = std::make_unique_for_overwrite<TMemRec>();
  auto port = std::make_unique_for_overwrite<TPortRecord>();
  auto pci = std::make_unique_for_overwrite<PciRequestBlock>();
  auto permissions = std::make_unique<Byte[]>(detail::PortCount);  // all 0
  records.MapRequest = map.release();
  records.PortRequest = port.release();
  records.PciRequest = reinterpret_cast<TPciRequest*>(pci.release()->Bytes);
  records.PortPermissions = permissions.release();
}

void ReleaseRecords(detail::ModuleRecords& records) {
  delete records.MapRequest;
  delete records.PortRequest;
  delete reinterpret_cast<PciRequestBlock*>(records.PciRequest);
  delete[] records.PortPermissions;
  records = detail::ModuleRecords{};
}

}  // namespace

TFerrox32::RecordsLease::RecordsLease() {
  std::lock_guard lock(detail::TheComponentsLock);
  detail::ModuleRecords& records = detail::Records();
  if (records.LiveComponents == 0) AllocateRecords(records);
  ++records.LiveComponents;
}

// Two components destroyed at once on two threads each saw the other alive when their destructors
// reset the permissions, so the last lease withdraws what the process still holds.
TFerrox32::RecordsLease::~RecordsLease() {
  std::lock_guard lock(detail::TheComponentsLock);
  detail::ModuleRecords& records = detail::Records();
  if (--records.LiveComponents != 0) return;
  detail::WithdrawProcessPermissions(records);
  ReleaseRecords(records);
}

TFerrox32::TFerrox32(framework::TComponent* AOwner) : framework::TComponent(AOwner) {
  for (bool& masked : FMasked) masked = true;
}

TFerrox32::~TFerrox32() {
  if (FDriverActive) CloseDriver();
  FDriverActive = false;
  FDriverHandle = 0;
  FMapped = false;
  fResetAllPermissions();
  // The records lease is given back after this body, when FRecords is destroyed.
}

void* TFerrox32::GetDebugCode() const { return detail::Records().PortPermissions; }

void TFerrox32::OpenDriver() {
  if (FDriverActive) return;
  FDriverHandle = open(DriverDevicePath, O_RDONLY);
  // Programs the application starts (system, popen) must not inherit the hardware.
  if (FDriverHandle >= 0) fcntl(FDriverHandle, F_SETFD, FD_CLOEXEC);
  // Any descriptor counts, 0 included: a process that closed its standard input gets 0 for the
  // driver, and that descriptor is the driver's to use and to close.
  FDriverActive = FDriverHandle >= 0;
  FHardAccess = true;
  for (int line = 0; line < IrqLineCount; ++line) {
    FMasked[line] = true;
    FHandledCounter[line].store(0, std::memory_order_relaxed);
  }
  // Parallel-port reset; discovery follows when the driver opened.
  FLPTCount = 0;
  FLPTBase = DefaultLptBase;
  FLPTNumber = 1;
  if (FDriverActive) DiscoverLPTPorts();
}

void TFerrox32::CloseDriver() {
  if (FDriverActive) {
    if (FMapped) fUnmapMemory();  // while the descriptor still names the window's owner
    // Before the descriptor goes: the driver stops every line this component unmasked.
    for (int line = 0; line < IrqLineCount; ++line) {
      if (!FMasked[line]) MaskInterrupt(static_cast<Byte>(line));
      FMasked[line] = true;
    }
    close(FDriverHandle);  // a failed close still leaves the driver closed
  }
  FDriverActive = false;
  FHardAccess = true;
}

}  // namespace ferrox

// SPDX-License-Identifier: MIT
// The library's operations as the benchmarks run them, each on a virtual PC prepared for it, so
// that the timing suite and the instruction count measure the very same calls.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ferrox/component/Ferrox32.h"
#include "tests/support/component.h"

namespace bench {

// A component on a freshly reset virtual PC with the driver open, and what the operations read
// into and write from.
class Workbench {
 public:
  Workbench();

  ferrox::TFerrox32& component() { return *component_; }
  // Frees the component, for an operation that makes its own.
  void free_component() { component_.reset(); }
  std::uint8_t* buffer() { return buffer_.get(); }
  ferrox::TMemRec& record() { return *record_; }
  ferrox::TPciCfg& header() { return header_; }
  std::uint32_t value = 0;  // a register's own value, written back by the PCI writes

  // OnHwInterrupt of the interrupt operations: counts the calls.
  void OnIrq(ferrox::Word) { interrupts = interrupts + 1; }
  volatile std::uint32_t interrupts = 0;

 private:
  Component component_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::unique_ptr<ferrox::TMemRec> record_;
  ferrox::TPciCfg header_{};
};

struct Operation {
  std::string name;  // "fGetPortB/driver": the method, and what sets this case apart
  // Most instructions of the library's own per call, beyond the request or the port
  // instruction it exists for; no goal when empty.
  std::optional<unsigned> instruction_goal;
  void (*prepare)(Workbench&);  // after the driver is opened, before the first call
  void (*run)(Workbench&);      // one call
};

// Every operation of the component, in the order the tables list them.
const std::vector<Operation>& operations();

}  // namespace bench

// SPDX-License-Identifier: MIT
// The parallel port an lpt command drives: the component's selected port (LPT1..LPT3, as the BIOS
// data area lists them), or a port at a base the firmware never lists, such as a PCI parallel
// card's I/O BAR. Both reach the registers through the component's port calls and follow the same
// pin rules (ferrox/hwtypes/PcHardware.h).
#pragma once

#include <memory>
#include <string>

#include "ferrox/component/Ferrox32.h"

namespace ferrox_tool {

class ParallelLines {
 public:
  virtual ~ParallelLines() = default;

  // "LPT1", or "port 0xd000".
  virtual std::string name() const = 0;
  // 1..3 for a port of the BIOS data area, 0 for one driven at a base.
  virtual unsigned number() const = 0;
  virtual ferrox::Word base() const = 0;
  virtual bool irq() const = 0;
  virtual bool read_mode() const = 0;

  // One read of a register (Data, Status, Control), leaving the shadows as they were.
  ferrox::Byte read_register(ferrox::Byte reg);
  // What was last written to a register, and last read from it.
  virtual ferrox::Byte write_shadow(ferrox::Byte reg) const = 0;
  virtual ferrox::Byte read_shadow(ferrox::Byte reg) const = 0;

  virtual bool pin(ferrox::Byte pin) = 0;
  virtual void set_pin(ferrox::Byte pin, bool level) = 0;
  virtual void strobe() = 0;
  virtual void init() = 0;
  virtual void select_in() = 0;
  virtual void autofeed(bool assert) = 0;
  virtual void set_irq(bool enable) = 0;
  virtual void set_read_mode(bool read_mode) = 0;

  ferrox::TFerrox32& component() { return component_; }
  const ferrox::TFerrox32& component() const { return component_; }

 protected:
  explicit ParallelLines(ferrox::TFerrox32& component) : component_(component) {}

 private:
  ferrox::TFerrox32& component_;
};

// The component's selected port, through its own parallel-port operations.
std::unique_ptr<ParallelLines> selected_port(ferrox::TFerrox32& component);

// A port at base, its write shadows loaded from what its registers hold now.
std::unique_ptr<ParallelLines> port_at(ferrox::TFerrox32& component, ferrox::Word base);

}  // namespace ferrox_tool

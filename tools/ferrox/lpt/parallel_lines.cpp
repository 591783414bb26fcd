// SPDX-License-Identifier: MIT
// The two ways an lpt command reaches a parallel port.
#include "tools/ferrox/lpt/parallel_lines.h"

#include <fmt/format.h>

#include <array>

#include "ferrox/hwtypes/PcHardware.h"

namespace ferrox_tool {

namespace {

using ferrox::Byte;
using ferrox::Word;
namespace lpt = ferrox::lpt;

class SelectedPort final : public ParallelLines {
 public:
  explicit SelectedPort(ferrox::TFerrox32& component) : ParallelLines(component) {}

  std::string name() const override { return fmt::format("LPT{}", number()); }
  unsigned number() const override { return component().LPTNumber(); }
  Word base() const override { return component().LPTBase(); }
  bool irq() const override { return component().LPTIrq(); }
  bool read_mode() const override { return component().LPTReadMode(); }
  Byte write_shadow(Byte reg) const override { return component().LPTWriteShadow(reg); }
  Byte read_shadow(Byte reg) const override { return component().LPTReadShadow(reg); }
  bool pin(Byte pin) override { return component().fGetPin(pin); }
  void set_pin(Byte pin, bool level) override { component().fSetPin(pin, level); }
  void strobe() override { component().LPTStrobe(); }
  void init() override { component().LPTInit(); }
  void select_in() override { component().LPTSlctIn(); }
  void autofeed(bool assert) override { component().LPTAutofd(assert); }
  void set_irq(bool enable) override { component().fSetLPTIrq(enable); }
  void set_read_mode(bool read_mode) override { component().fSetLPTReadMode(read_mode); }
};

// Keeps its own shadows as the component keeps the selected port's: a write is built from what was
// last written, never from a fresh read.
class PortAtBase final : public ParallelLines {
 public:
  PortAtBase(ferrox::TFerrox32& component, Word base) : ParallelLines(component), base_(base) {
    for (Byte reg = 0; reg < lpt::RegisterCount; ++reg) written_[reg] = read_[reg] = read_register(reg);
  }

  std::string name() const override { return fmt::format("port {:#x}", base_); }
  unsigned number() const override { return 0; }
  Word base() const override { return base_; }
  bool irq() const override { return (written_[lpt::Control] & lpt::IrqEnable) != 0; }
  bool read_mode() const override { return (written_[lpt::Control] & lpt::Direction) != 0; }
  Byte write_shadow(Byte reg) const override { return written_[reg]; }
  Byte read_shadow(Byte reg) const override { return read_[reg]; }

  bool pin(Byte pin) override {
    Byte reg = ferrox::PinsPort[pin];
    read_[reg] = read_register(reg);
    return lpt::PinLevel(read_[reg], pin);
  }
  void set_pin(Byte pin, bool level) override {
    Byte reg = ferrox::PinsPort[pin];
    write(reg, lpt::WithPinLevel(written_[reg], pin, level));
  }
  void strobe() override { pulse(lpt::StrobePin); }
  void init() override { pulse(lpt::InitPin); }
  void select_in() override {
    set_pin(lpt::InitPin, false);
    write(lpt::Control, written_[lpt::Control] & ~lpt::SelectIn);
  }
  void autofeed(bool assert) override { set_pin(lpt::AutoFeedPin, !assert); }
  void set_irq(bool enable) override { control_bit(lpt::IrqEnable, enable); }
  void set_read_mode(bool read_mode) override { control_bit(lpt::Direction, read_mode); }

 private:
  void write(Byte reg, int value) {
    written_[reg] = static_cast<Byte>(value);
    component().fSetPortB(static_cast<Word>(base_ + reg), written_[reg]);
  }
  void control_bit(Byte bit, bool on) { write(lpt::Control, on ? written_[lpt::Control] | bit : written_[lpt::Control] & ~bit); }
  void pulse(unsigned pin) {
    lpt::PulseLow([this](unsigned line, bool level) { set_pin(static_cast<Byte>(line), level); }, pin);
  }

  Word base_;
  std::array<Byte, lpt::RegisterCount> written_{};
  std::array<Byte, lpt::RegisterCount> read_{};
};

}  // namespace

Byte ParallelLines::read_register(Byte reg) { return component_.fGetPortB(static_cast<Word>(base() + reg)); }

std::unique_ptr<ParallelLines> selected_port(ferrox::TFerrox32& component) {
  return std::make_unique<SelectedPort>(component);
}

std::unique_ptr<ParallelLines> port_at(ferrox::TFerrox32& component, Word base) {
  return std::make_unique<PortAtBase>(component, base);
}

}  // namespace ferrox_tool

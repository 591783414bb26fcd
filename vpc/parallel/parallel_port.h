// SPDX-License-Identifier: MIT
// A PC parallel port: three registers on the port bus and the 17 signal lines of its connector.
//
//   +0 data     write: the output latch, driven onto pins 2..9 while the direction bit is clear;
//               read: the levels of pins 2..9 (the latch, unless something else drives them; in
//               read mode the external levels, high where nothing drives)
//   +1 status   read only: the input lines; busy is inverted by the port
//   +2 control  bits 0..3 drive the open-collector lines strobe, auto feed, init and select in
//               (all but init inverted by the port) and read back the levels of those lines;
//               bit 4 enables the interrupt, bit 5 turns the data lines into inputs
//
// The port interrupts when the acknowledge line returns high at the end of its pulse, while the
// enable bit is set. It knows neither its base address nor its IRQ line: the bus and the machine
// give it those when it is attached.
#pragma once

#include <cstdint>
#include <functional>

#include "ferrox/vpc/Export.h"
#include "ferrox/vpc/parallel/parallel_connector.h"
#include "ferrox/vpc/platform/port_bus.h"

namespace ferrox::vpc {

class VPC_API ParallelPort final : public PortDevice, public LineDevice {
 public:
  static constexpr std::uint16_t PortCount = lpt::RegisterCount;

  // `interrupt` raises the port's IRQ line once.
  ParallelPort(ParallelConnector& connector, std::function<void()> interrupt);

  std::uint32_t read(std::uint16_t offset, unsigned width) override;
  void write(std::uint16_t offset, unsigned width, std::uint32_t value) override;
  // The state the firmware leaves the port in.
  void reset();

  PinMask pulled_low() const override;
  void lines_changed(PinMask before, PinMask now) override;

 private:
  using enum lpt::Register;
  using enum lpt::StatusBit;
  using enum lpt::ControlBit;
  // Init high and printer selected, as the firmware's printer initialisation leaves it.
  static constexpr std::uint8_t ControlAfterFirmware = Init | SelectIn;

  struct State {
    std::uint8_t data = 0;                         // the output latch
    std::uint8_t control = ControlAfterFirmware;  // bits 0..5 as written
  };

  std::uint8_t read_register(std::uint16_t offset);
  void write_register(std::uint16_t offset, std::uint8_t value);
  std::uint8_t status() const;
  std::uint8_t control() const;
  void update_irq(PinMask before, PinMask now);

  ParallelConnector& connector_;
  std::function<void()> interrupt_;
  State state_;
};

}  // namespace ferrox::vpc

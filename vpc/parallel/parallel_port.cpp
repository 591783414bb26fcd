// SPDX-License-Identifier: MIT
// The parallel port: its registers and the lines it drives.
#include "ferrox/vpc/parallel/parallel_port.h"

namespace ferrox::vpc {

ParallelPort::ParallelPort(ParallelConnector& connector, std::function<void()> interrupt)
    : connector_(connector), interrupt_(std::move(interrupt)) {
  connector_.attach(*this);
  reset();
}

void ParallelPort::reset() {
  state_ = State{};
  connector_.update();
}

// A wide access is split into byte cycles on consecutive ports, as the bus does for an 8-bit
// device.
std::uint32_t ParallelPort::read(std::uint16_t offset, unsigned width) {
  if (width == 1) return read_register(offset);
  std::uint32_t value = 0;
  for (unsigned byte = 0; byte < width; ++byte)
    value |= std::uint32_t{read_register(static_cast<std::uint16_t>(offset + byte))} << (8 * byte);
  return value;
}

void ParallelPort::write(std::uint16_t offset, unsigned width, std::uint32_t value) {
  if (width == 1) return write_register(offset, static_cast<std::uint8_t>(value));
  for (unsigned byte = 0; byte < width; ++byte)
    write_register(static_cast<std::uint16_t>(offset + byte), static_cast<std::uint8_t>(value >> (8 * byte)));
}

// Every byte cycle is one step of the connector's time, taken before the cycle is carried out.
std::uint8_t ParallelPort::read_register(std::uint16_t offset) {
  connector_.step();
  switch (offset) {
    case Data:
      return data_byte(connector_.levels());
    case Status:
      return status();
    case Control:
      return control();
    default:
      return 0xFF;  // beyond the port
  }
}

void ParallelPort::write_register(std::uint16_t offset, std::uint8_t value) {
  connector_.step();
  switch (offset) {
    case Data:
      state_.data = value;
      break;
    case Control:
      state_.control = value & static_cast<std::uint8_t>(~ControlReserved);
      break;
    default:
      return;  // the status register is read only
  }
  connector_.update();
}

PinMask ParallelPort::pulled_low() const {
  PinMask low = 0;
  // The data outputs drive both ways; a 0 bit pulls its line low.
  if (!(state_.control & Direction)) low |= PinMask{static_cast<std::uint8_t>(~state_.data)} << FirstDataPin;
  if (state_.control & Strobe) low |= pin_bit(StrobePin);
  if (state_.control & AutoFeed) low |= pin_bit(AutoFeedPin);
  if (!(state_.control & Init)) low |= pin_bit(InitPin);
  if (state_.control & SelectIn) low |= pin_bit(SelectInPin);
  return low;
}

void ParallelPort::lines_changed(PinMask before, PinMask now) { update_irq(before, now); }

std::uint8_t ParallelPort::status() const {
  std::uint8_t value = StatusReserved;
  if (connector_.level(ErrorPin)) value |= Error;
  if (connector_.level(SelectPin)) value |= Select;
  if (connector_.level(PaperEndPin)) value |= PaperEnd;
  if (connector_.level(AcknowledgePin)) value |= Acknowledge;
  if (!connector_.level(BusyPin)) value |= NotBusy;
  return value;
}

// The four line bits read the lines themselves, so a line held low from outside shows.
std::uint8_t ParallelPort::control() const {
  std::uint8_t value = ControlReserved | (state_.control & (IrqEnable | Direction));
  if (!connector_.level(StrobePin)) value |= Strobe;
  if (!connector_.level(AutoFeedPin)) value |= AutoFeed;
  if (connector_.level(InitPin)) value |= Init;
  if (!connector_.level(SelectInPin)) value |= SelectIn;
  return value;
}

void ParallelPort::update_irq(PinMask before, PinMask now) {
  if (rose(AcknowledgePin, before, now) && (state_.control & IrqEnable)) interrupt_();
}

}  // namespace ferrox::vpc

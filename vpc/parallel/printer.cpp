// SPDX-License-Identifier: MIT
// The printer: its handshake, its condition lines and the bytes it has taken.
#include "ferrox/vpc/parallel/printer.h"

#include <errno.h>

#include <cstring>

namespace ferrox::vpc {

Printer::Printer(ParallelConnector& connector) : connector_(connector) {
  state_.in_reset = !connector_.level(InitPin);
  connector_.attach(*this);
}

ferrox::Status Printer::configure(const PrinterSettings& settings) {
  ferrox::Status opened = ferrox::Done{};
  if (settings.output_file != settings_.output_file || !output_) {
    output_.reset(settings.output_file.empty() ? nullptr : std::fopen(settings.output_file.c_str(), "ab"));
    if (!settings.output_file.empty() && !output_)
      opened = ferrox::Error{"cannot open the printer's output file: " + std::string(std::strerror(errno)), 0,
                                settings.output_file};
  }
  settings_ = settings;
  connector_.update();
  return opened;
}

bool Printer::ready() const {
  return !settings_.offline && !settings_.paper_end && !settings_.error && !state_.in_reset;
}

// The status outputs are totem-pole: a line the printer does not hold low, it drives high.
PinMask Printer::pulled_low() const {
  PinMask low = 0;
  if (state_.phase == Phase::Acknowledging) low |= pin_bit(AcknowledgePin);
  if (!busy()) low |= pin_bit(BusyPin);
  if (!settings_.paper_end) low |= pin_bit(PaperEndPin);
  if (settings_.offline) low |= pin_bit(SelectPin);
  if (settings_.error) low |= pin_bit(ErrorPin);
  return low;
}

void Printer::lines_changed(PinMask before, PinMask now) {
  if (fell(InitPin, before, now)) {
    state_.in_reset = true;
    enter(Phase::Idle, 0);  // the byte being printed is abandoned
  }
  if (rose(InitPin, before, now)) state_.in_reset = false;
  if (fell(StrobePin, before, now)) take_byte(now);
  if (rose(StrobePin, before, now) && state_.phase == Phase::Taking) enter(Phase::Printing, settings_.busy_steps);
  connector_.update();
}

void Printer::take_byte(PinMask levels) {
  if (busy()) {
    ++state_.missed_strobes;
    return;
  }
  std::uint8_t byte = data_byte(levels);
  state_.received.push(byte);
  if (output_) {
    std::fputc(byte, output_.get());
    std::fflush(output_.get());
  }
  enter(Phase::Taking, 0);
}

void Printer::step() {
  if (state_.phase != Phase::Printing && state_.phase != Phase::Acknowledging) return;
  if (state_.steps_left > 0 && --state_.steps_left > 0) return;
  if (state_.phase == Phase::Printing)
    enter(Phase::Acknowledging, settings_.ack_steps);
  else
    enter(Phase::Idle, 0);
  connector_.update();
}

void Printer::enter(Phase phase, unsigned steps) {
  state_.phase = phase;
  state_.steps_left = steps;
}

}  // namespace ferrox::vpc

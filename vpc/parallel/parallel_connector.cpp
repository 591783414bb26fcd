// SPDX-License-Identifier: MIT
// The parallel-port connector: nets, wired-AND levels and the settling of the devices on it.
#include "ferrox/vpc/parallel/parallel_connector.h"

namespace ferrox::vpc {

ParallelConnector::ParallelConnector() {
  for (unsigned pin = 0; pin <= ParallelPinCount; ++pin) nets_[pin] = pin_bit(pin);
}

void ParallelConnector::attach(LineDevice& device) {
  devices_.push_back(&device);
  if (device.takes_time()) timed_.push_back(&device);
  update();
}

void ParallelConnector::join(unsigned pin, unsigned other) {
  PinMask net = nets_[pin] | nets_[other];
  for (unsigned member = 1; member <= ParallelPinCount; ++member)
    if (net & pin_bit(member)) nets_[member] = net;
  update();
}

void ParallelConnector::pull_low(unsigned pin, bool low) {
  if (pin < 1 || pin > ParallelPinCount) return;
  probe_low_ = low ? probe_low_ | pin_bit(pin) : probe_low_ & ~pin_bit(pin);
  update();
}

PinMask ParallelConnector::driven_levels() const {
  PinMask low = probe_low_;
  for (const LineDevice* device : devices_) low |= device->pulled_low();
  PinMask levels = AllSignalPins;
  for (unsigned pin = 1; pin <= ParallelPinCount; ++pin)
    if (nets_[pin] & low) levels &= ~pin_bit(pin);
  return levels;
}

// A device told of a change may change what it drives and call back in here; that call only
// asks for another round, so every device sees each change of the levels once, in order.
void ParallelConnector::update() {
  if (updating_) {
    again_ = true;
    return;
  }
  updating_ = true;
  do {
    again_ = false;
    PinMask before = levels_;
    levels_ = driven_levels();
    if (levels_ != before)
      for (LineDevice* device : devices_) device->lines_changed(before, levels_);
  } while (again_);
  updating_ = false;
}

// A device whose lines change with time calls update() itself, so a step in which nothing
// changes costs no settling.
void ParallelConnector::step() {
  for (LineDevice* device : timed_) device->step();
}

}  // namespace ferrox::vpc

// SPDX-License-Identifier: MIT
// The 25-pin connector of a parallel port: the electrical levels of its 17 signal lines, and what
// drives them.
//
// Every line has a pull-up and is high unless something pulls it low: the port's open-collector
// control outputs, its data outputs, a printer's status outputs, a probe clipped on by a test.
// Lines driven by more than one device are wired-AND (low wins), which is how the open-collector
// lines behave and how a short between a low and a high totem-pole output ends up reading. Wires
// (a loopback plug's) join pins into one net that carries one level. Pins 18..25 are ground.
//
// Time on the connector passes in steps: the port takes one step on every access to its
// registers, which is the only way software observes the lines. Devices that take time (a
// printer) count steps, so their timing does not depend on how fast the host runs.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "ferrox/hwtypes/PcHardware.h"
#include "ferrox/vpc/Export.h"

namespace ferrox::vpc {

// A set of signal pins 1..17: bit p is pin p.
using PinMask = std::uint32_t;
constexpr unsigned ParallelPinCount = 17;
constexpr PinMask pin_bit(unsigned pin) { return PinMask{1} << pin; }
constexpr PinMask AllSignalPins = ((PinMask{1} << (ParallelPinCount + 1)) - 1) & ~PinMask{1};

// Edges of a line between two sets of levels.
constexpr bool fell(unsigned pin, PinMask before, PinMask now) { return (before & ~now) & pin_bit(pin); }
constexpr bool rose(unsigned pin, PinMask before, PinMask now) { return (~before & now) & pin_bit(pin); }

// The signal pins by name (StrobePin, ...; pins 2..9 carry data bits 0..7).
using enum lpt::Pin;

// The byte on the data pins 2..9.
constexpr std::uint8_t data_byte(PinMask levels) { return static_cast<std::uint8_t>(levels >> FirstDataPin); }

// Something on the connector that drives lines or watches them.
class VPC_API LineDevice {
 public:
  virtual ~LineDevice() = default;
  // The lines the device pulls low now.
  virtual PinMask pulled_low() const = 0;
  // The levels went from `before` to `now` (a set bit is a high line). The device may change
  // what it drives and call ParallelConnector::update(); the connector settles before returning.
  virtual void lines_changed(PinMask before, PinMask now) = 0;
  // Devices that take time (a printer) say so, and are given one step of it at a time; a device
  // that changes what it drives then calls ParallelConnector::update().
  virtual bool takes_time() const { return false; }
  virtual void step() {}
};

class VPC_API ParallelConnector {
 public:
  ParallelConnector();

  // The device must outlive its place on the connector.
  void attach(LineDevice& device);
  // A wire between two pins: from now on they are one net.
  void join(unsigned pin, unsigned other);

  // The levels of the lines: bit p set when pin p is high.
  PinMask levels() const { return levels_; }
  bool level(unsigned pin) const { return levels_ & pin_bit(pin); }

  // A test probe: pulls a line low (true) or lets it go (false), as a clip lead to ground would.
  void pull_low(unsigned pin, bool low);

  // What some device drives has changed: the levels are worked out again and, when they differ,
  // every device is told, until nothing changes any more.
  void update();
  // One step of time for every device.
  void step();

 private:
  // The levels that what is attached drives now.
  PinMask driven_levels() const;

  std::vector<LineDevice*> devices_;
  std::vector<LineDevice*> timed_;  // the devices that take time
  std::array<PinMask, ParallelPinCount + 1> nets_{};  // the pins wired to each pin, itself included
  PinMask probe_low_ = 0;
  PinMask levels_ = AllSignalPins;
  bool updating_ = false;
  bool again_ = false;
};

}  // namespace ferrox::vpc

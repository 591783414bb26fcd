// SPDX-License-Identifier: MIT
// The machine's parallel ports: for each, the port on the bus at its base address, its connector
// with whatever is plugged in, and its IRQ line.
//
//   vpc::Printer* printer = pc.parallel_ports().printer(0x378);
//   printer->received_text();                              // what has been printed
//   pc.parallel_ports().at(0x278)->connector().pull_low(10, true);   // a probe on acknowledge
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "ferrox/common/Result.h"
#include "ferrox/vpc/Export.h"
#include "ferrox/vpc/parallel/parallel_connector.h"
#include "ferrox/vpc/parallel/parallel_port.h"
#include "ferrox/vpc/parallel/printer.h"
#include "ferrox/vpc/platform/irq_controller.h"
#include "ferrox/vpc/platform/port_bus.h"

namespace ferrox::vpc {

enum class ParallelPlug { Nothing, Printer, Loopback };

// The loopback plug of parallel-port test kits: five wires, each from an output of the port to
// one of its inputs, so that every input can be driven from software and every output checked.
//
//   1 strobe    - 13 select        2 data 0  - 15 error       10 acknowledge - 16 init
//   11 busy     - 17 select in     12 paper end - 14 auto feed
//
// The plug drives nothing itself: a wired pair carries the level its output drives, seen on
// both pins.
VPC_API void insert_loopback_plug(ParallelConnector& connector);

struct ParallelPortDescription {
  std::uint16_t base = lpt::PrimaryBase;
  unsigned irq = lpt::ConventionalIrq(lpt::PrimaryBase);
  ParallelPlug plugged = ParallelPlug::Nothing;
  PrinterSettings printer;  // when a printer is plugged in

  friend bool operator==(const ParallelPortDescription&, const ParallelPortDescription&) = default;
};

// The primary base on its line with a printer, and the secondary on its line with nothing plugged in.
VPC_API std::vector<ParallelPortDescription> default_parallel_ports();

class VPC_API ParallelAdapter {
 public:
  // The port with what is plugged in; a printer is left with its default settings.
  ParallelAdapter(const ParallelPortDescription& description, IrqController& irqs);
  ParallelAdapter(const ParallelAdapter&) = delete;
  ParallelAdapter& operator=(const ParallelAdapter&) = delete;

  ParallelConnector& connector() { return connector_; }
  ParallelPort& port() { return port_; }
  Printer* printer() { return printer_.get(); }  // nullptr when no printer is plugged in

 private:
  ParallelConnector connector_;  // first: the devices attach to it
  ParallelPort port_;
  std::unique_ptr<Printer> printer_;
};

class VPC_API ParallelPorts {
 public:
  // Builds the described ports afresh and claims their registers on the bus. An error when a
  // printer's output file cannot be opened (the ports are built all the same).
  ferrox::Status reset(const std::vector<ParallelPortDescription>& descriptions, PortBus& bus, IrqController& irqs);

  // The port at a base address, or nullptr.
  ParallelAdapter* at(std::uint16_t base);
  // The printer on the port at a base address, or nullptr.
  Printer* printer(std::uint16_t base);

 private:
  struct Entry {
    std::uint16_t base;
    std::unique_ptr<ParallelAdapter> adapter;
  };
  std::vector<Entry> entries_;
};

}  // namespace ferrox::vpc

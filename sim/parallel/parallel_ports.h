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

#include "ferrox/vpc/Export.h"
#include "ferrox/vpc/platform/irq_controller.h"
#include "ferrox/vpc/parallel/parallel_connector.h"
#include "ferrox/vpc/parallel/parallel_port.h"
#include "ferrox/vpc/platform/port_bus.h"
#include "ferrox/vpc/parallel/printer.h"

namespace vpc {

enum class ParallelPlug { Nothing, Printer, Loopback };

struct ParallelPortDescription {
  std::uint16_t base = 0x378;
  unsigned irq = 7;
  ParallelPlug plugged = ParallelPlug::Nothing;
  PrinterSettings printer;  // when a printer is plugged in
};

// 0x378 on line 7 with a printer, and 0x278 on line 5 with nothing plugged in.
VPC_API std::vector<ParallelPortDescription> default_parallel_ports();

class VPC_API ParallelAdapter {
 public:
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
  // Builds the described ports afresh and claims their registers on the bus.
  void reset(const std::vector<ParallelPortDescription>& descriptions, PortBus& bus, IrqController& irqs);

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

}  // namespace vpc

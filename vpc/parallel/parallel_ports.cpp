// SPDX-License-Identifier: MIT
// The machine's parallel ports.
#include "ferrox/vpc/parallel/parallel_ports.h"

namespace ferrox::vpc {

std::vector<ParallelPortDescription> default_parallel_ports() {
  return {{.base = lpt::PrimaryBase,
           .irq = lpt::ConventionalIrq(lpt::PrimaryBase),
           .plugged = ParallelPlug::Printer,
           .printer = {}},
          {.base = lpt::SecondaryBase,
           .irq = lpt::ConventionalIrq(lpt::SecondaryBase),
           .plugged = ParallelPlug::Nothing,
           .printer = {}}};
}

ParallelAdapter::ParallelAdapter(const ParallelPortDescription& description, IrqController& irqs)
    : port_(connector_, [&irqs, line = description.irq] { irqs.raise(line); }) {
  switch (description.plugged) {
    case ParallelPlug::Printer:
      printer_ = std::make_unique<Printer>(connector_);
      break;
    case ParallelPlug::Loopback:
      insert_loopback_plug(connector_);
      break;
    case ParallelPlug::Nothing:
      break;
  }
}

ferrox::Status ParallelPorts::reset(const std::vector<ParallelPortDescription>& descriptions, PortBus& bus,
                                       IrqController& irqs) {
  ferrox::Status status = ferrox::Done{};
  entries_.clear();
  for (const ParallelPortDescription& description : descriptions) {
    auto adapter = std::make_unique<ParallelAdapter>(description, irqs);
    if (Printer* printer = adapter->printer())
      if (ferrox::Status configured = printer->configure(description.printer); !configured && status) status = configured;
    bus.attach(description.base, ParallelPort::PortCount, adapter->port());
    entries_.push_back({description.base, std::move(adapter)});
  }
  return status;
}

ParallelAdapter* ParallelPorts::at(std::uint16_t base) {
  for (Entry& entry : entries_)
    if (entry.base == base) return entry.adapter.get();
  return nullptr;
}

Printer* ParallelPorts::printer(std::uint16_t base) {
  ParallelAdapter* adapter = at(base);
  return adapter ? adapter->printer() : nullptr;
}

}  // namespace ferrox::vpc

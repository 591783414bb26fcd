// The virtual PC: one machine per process, its description and its reset.
#include "sim/machine.h"

#include "sim/driver_ports.h"

namespace vpc {

MachineDescription default_machine() { return MachineDescription{}; }

Machine& Machine::instance() {
  // Never destroyed: the interposed C-library functions may run during process exit.
  static Machine* machine = new Machine;
  return *machine;
}

Machine::Machine() {
  serve_port_requests(node_, ports_);
  reset();
}

void Machine::reset(const MachineDescription& description) {
  description_ = description;
  log_.clear();
  faults_.clear();
  privilege_.reset(description.privilege);
  ports_.detach_all();
  fifo_.reset();
  if (description.fifo_port) ports_.attach(*description.fifo_port, FifoDevice::PortCount, fifo_);
}

}  // namespace vpc

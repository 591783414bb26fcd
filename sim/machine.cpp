// The virtual PC: one machine per process, its description and its reset.
#include "sim/machine.h"

#include "sim/driver_pci.h"
#include "sim/pci_sysfs.h"

namespace vpc {

MachineDescription default_machine() { return MachineDescription{}; }

Machine& Machine::instance() {
  // Never destroyed: the interposed C-library functions may run during process exit.
  static Machine* machine = new Machine;
  return *machine;
}

Machine::Machine() {
  serve_pci_requests(node_, pci_);
  MachineDescription first = default_machine();
  if (auto host_pci = pci_functions_from_environment()) first.pci_functions = std::move(*host_pci);
  reset(first);
}

void Machine::reset(const MachineDescription& description) {
  description_ = description;
  log_.clear();
  faults_.clear();
  pci_.reset(description_.pci_functions);
  pci_config_ports_.reset();
  ports_.attach(PciConfigPortsBase, PciConfigPortsLength, pci_config_ports_);
}

}  // namespace vpc

// The virtual PC: one machine per process, its description and its reset.
#include "sim/machine.h"

namespace vpc {

MachineDescription default_machine() { return MachineDescription{}; }

Machine& Machine::instance() {
  // Never destroyed: the interposed C-library functions may run during process exit.
  static Machine* machine = new Machine;
  return *machine;
}

Machine::Machine() { reset(); }

void Machine::reset(const MachineDescription& description) {
  description_ = description;
  log_.clear();
  faults_.clear();
  memory_.reset(description_.memory, description_.bios);
}

}  // namespace vpc

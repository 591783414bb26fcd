// The virtual PC: one machine per process, its description and its reset.
#include "sim/machine.h"

#include <cstdlib>
#include <cstring>

#include "sim/driver_irq.h"

namespace vpc {

MachineDescription default_machine() { return MachineDescription{}; }

MachineDescription builtin_machine() {
  MachineDescription description = default_machine();
  description.timer = true;
  return description;
}

namespace {

bool preloaded() {
  const char* preload = std::getenv("LD_PRELOAD");
  return preload && std::strstr(preload, "libferrox-vpc");
}

}  // namespace

Machine& Machine::instance() {
  // Never destroyed: the interposed C-library functions may run during process exit.
  static Machine* machine = new Machine;
  return *machine;
}

Machine::Machine() {
  serve_irq_requests(node_, irqs_);
  reset(preloaded() ? builtin_machine() : default_machine());
}

void Machine::reset(const MachineDescription& description) {
  description_ = description;
  log_.clear();
  faults_.clear();
  timer_.stop();
  irqs_.reset();
  if (description.timer) timer_.start();
}

}  // namespace vpc

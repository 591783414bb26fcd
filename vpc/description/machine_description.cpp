// SPDX-License-Identifier: MIT
// The default and the built-in machine.
#include "ferrox/vpc/description/machine_description.h"

namespace ferrox::vpc {

MachineDescription default_machine() { return MachineDescription{}; }

MachineDescription builtin_machine() {
  MachineDescription description = default_machine();
  description.timer = true;
  return description;
}

}  // namespace ferrox::vpc

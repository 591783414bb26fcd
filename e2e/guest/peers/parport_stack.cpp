// SPDX-License-Identifier: MIT
// Loads the parallel-port modules the run script put into the guest's /lib/modules.
#include "peers/parport_stack.h"

#include <cstdio>

#include "common/kernel_module.h"

namespace peers {

namespace {

struct Module {
  const char* name;
  const char* parameters;
};
// LPT1 as the emulated PC has it; without irq= parport_pc would poll instead.
constexpr Module Modules[] = {{"parport", ""}, {"parport_pc", "io=0x378 irq=7"}, {"ppdev", ""}};

bool load(const Module& module) {
  bool ok = e2e::load_module(module.name, module.parameters);
  if (!ok) std::perror(module.name);
  return ok;
}

}  // namespace

ParportStack::ParportStack() {
  while (loaded_ < ModuleCount && load(Modules[loaded_])) ++loaded_;
}

ParportStack::~ParportStack() {
  while (loaded_ > 0) e2e::unload_module(Modules[--loaded_].name);
}

}  // namespace peers

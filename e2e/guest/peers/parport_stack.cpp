// SPDX-License-Identifier: MIT
// Loads the parallel-port modules the run script put into the guest's /lib/modules.
#include "peers/parport_stack.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>

namespace peers {

namespace {

struct Module {
  const char* name;
  const char* parameters;
};
// LPT1 as the emulated PC has it; without irq= parport_pc would poll instead.
constexpr Module Modules[] = {{"parport", ""}, {"parport_pc", "io=0x378 irq=7"}, {"ppdev", ""}};

bool load(const Module& module) {
  char path[64];
  std::snprintf(path, sizeof path, "/lib/modules/%s.ko", module.name);
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = syscall(SYS_finit_module, fd, module.parameters, 0) == 0;
  close(fd);
  if (!ok) std::perror(path);
  return ok;
}

}  // namespace

ParportStack::ParportStack() {
  while (loaded_ < ModuleCount && load(Modules[loaded_])) ++loaded_;
}

ParportStack::~ParportStack() {
  while (loaded_ > 0) syscall(SYS_delete_module, Modules[--loaded_].name, O_NONBLOCK);
}

}  // namespace peers

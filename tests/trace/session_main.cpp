// SPDX-License-Identifier: MIT
// The session as a program of its own, for the ferrox tool to trace, record and replay:
// trace_session [--changed] [--pause MS] [--extra-polls N] [--fork-child], or trace_session
// --unreadable-record, which hands the driver a port record out of reach and expects EFAULT.
// --fork-child starts, once the driver is open, a child that only exits; --closefrom closes every
// descriptor from 3 up first, as a daemon does.
#include <errno.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ferrox/framework/TComponent.h"
#include "ferrox/hwtypes/DriverContract.h"
#include "tests/trace/session.h"

namespace {

bool unreadable_record(ferrox::TFerrox32& component) {
  auto* nowhere = reinterpret_cast<ferrox::TPortRecord*>(std::uintptr_t{8});
  bool refused = ioctl(component.DriverHandle(), ferrox::Request::PortInB, nowhere) == -1 && errno == EFAULT;
  std::printf("a record out of reach: %s\n", refused ? "EFAULT" : "not refused");
  return refused;
}

bool child_only_exits() {
  pid_t child = fork();
  if (child == 0) std::exit(0);
  int status = 0;
  return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--closefrom") == 0) closefrom(3);
  auto* component = ferrox::framework::TComponent::Create<ferrox::TFerrox32>(nullptr);
  component->OpenDriver();
  bool ok = component->DriverActive();
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--fork-child") == 0) ok = ok && child_only_exits();
  if (argc > 1 && std::strcmp(argv[1], "--unreadable-record") == 0)
    ok = ok && unreadable_record(*component);
  else
    ok = ok && session::run(*component, session::parse_options(argc, argv));
  component->CloseDriver();
  component->Free();
  std::fflush(stdout);
  return ok ? 0 : 1;
}

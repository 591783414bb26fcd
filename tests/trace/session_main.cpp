// SPDX-License-Identifier: MIT
// The session as a program of its own, for the ferrox tool to trace, record and replay:
// trace_session [--changed] [--pause MS] [--extra-polls N], or trace_session --unreadable-record,
// which hands the driver a port record out of reach and expects EFAULT.
#include <errno.h>
#include <sys/ioctl.h>

#include <cstdint>
#include <cstdio>
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

}  // namespace

int main(int argc, char** argv) {
  auto* component = ferrox::framework::TComponent::Create<ferrox::TFerrox32>(nullptr);
  component->OpenDriver();
  bool ok = component->DriverActive();
  if (argc > 1 && std::strcmp(argv[1], "--unreadable-record") == 0)
    ok = ok && unreadable_record(*component);
  else
    ok = ok && session::run(*component, session::parse_options(argc, argv));
  component->CloseDriver();
  component->Free();
  std::fflush(stdout);
  return ok ? 0 : 1;
}

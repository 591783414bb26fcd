// The session as a program of its own, for the ferrox tool to trace, record and replay:
// trace_session [--changed] [--pause MS] [--extra-polls N].
#include <cstdio>

#include "ferrox/framework/TComponent.h"
#include "tests/trace/session.h"

int main(int argc, char** argv) {
  session::Options options = session::parse_options(argc, argv);
  auto* component = framework::TComponent::Create<ferrox::TFerrox32>(nullptr);
  component->OpenDriver();
  bool ok = component->DriverActive() && session::run(*component, options);
  component->CloseDriver();
  component->Free();
  std::fflush(stdout);
  return ok ? 0 : 1;
}

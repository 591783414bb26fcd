// SPDX-License-Identifier: MIT
// libferrox-trace: the trace layer preloaded into a program, ahead of the C library or of the
// virtual PC, under the C library's names.
#include "ferrox/trace/trace_layer.h"

using Route = trace::layer::Route;

#include "ferrox/vpc/kernel/interposed_symbols.inc"

extern "C" VPC_API int sigaction(int signal, const struct sigaction* action, struct sigaction* old) {
  static auto real = vpc::next_symbol<trace::layer::SigactionFunction>("sigaction");
  return trace::layer::sigaction(real, signal, action, old);
}

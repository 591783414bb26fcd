// SPDX-License-Identifier: MIT
// libferrox-trace: the trace layer preloaded into a program, ahead of the C library or of the
// virtual PC, under the C library's names.
#include "ferrox/trace/trace_layer.h"

using Route = ferrox::trace::layer::Route;

#include "ferrox/interpose/interposed_symbols.inc"

extern "C" INTERPOSED_API int sigaction(int signal, const struct sigaction* action, struct sigaction* old) {
  static auto real = ferrox::interpose::next_symbol<ferrox::trace::layer::SigactionFunction>("sigaction");
  return ferrox::trace::layer::sigaction(real, signal, action, old);
}

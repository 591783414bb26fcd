// SPDX-License-Identifier: MIT
// libferrox-trace: the trace layer preloaded into a program, ahead of the C library or of the
// virtual PC, under the C library's names.
#include "ferrox/trace/trace_layer.h"

using Route = ferrox::trace::layer::Route;

#include "ferrox/interpose/interposed_symbols.inc"

extern "C" INTERPOSED_API int sigaction(int signal, const struct sigaction* action, struct sigaction* old) {
  return ferrox::trace::layer::sigaction(ferrox::interpose::next::sigaction, signal, action, old);
}

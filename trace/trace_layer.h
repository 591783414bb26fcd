// SPDX-License-Identifier: MIT
// The trace layer: the calls of a program that cross to the driver, handed on to the next
// definition and written as events of a recording. Bound to the C-library names in libferrox-trace
// (trace_preload.cpp), which a program preloads or links ahead of the C library.
#pragma once

#include <signal.h>

#include "ferrox/trace/Export.h"

namespace ferrox::trace::layer {

// The trace layer's side of each interposed call (interposed_symbols.inc).
struct Route {
  static int open(const char* path, int flags, unsigned mode, int dirfd);
  static int close(int fd);
  static int ioctl(int fd, unsigned long request, void* argument);
  static void duplicated(int fd, int target);
  static void closed_from(unsigned first, unsigned last);
  static int kept_descriptor();
  static int iopl(int level);
  static int ioperm(unsigned long from, unsigned long count, int turn_on);
};

// sigaction through the layer, which puts a handler of its own in front of the program's for
// signal 44; `real` is the next definition.
using SigactionFunction = int (*)(int, const struct sigaction*, struct sigaction*);
int sigaction(SigactionFunction real, int signal, const struct sigaction* action, struct sigaction* old);

// Events go to this descriptor from now on (-1: nowhere), whatever FERROX_TRACE_PIPE says; a
// program that links libferrox-trace records itself this way.
TRACE_API void record_to(int fd);

}  // namespace ferrox::trace::layer

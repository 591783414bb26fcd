// SPDX-License-Identifier: MIT
// Sending a driver's signal the way its send_sig_info does: a queued real-time signal for the
// process, whose siginfo_t is all zero except si_signo, si_errno and si_code. The kernel gives a
// process-directed signal to a thread that does not block it, and to the sending thread when that
// one does not, before the sending call returns.
//
// Natively the virtual PC queues a real signal with rt_sigqueueinfo to its own process, named by
// the sending thread's id, the one sender the kernel lets give si_code >= 0 (see
// signal_delivery.cpp).
// Where the kernel's path is not faithful (under qemu-user si_errno is lost and some codes are
// refused; under valgrind delivery comes late), the installed handler is invoked directly, with the
// signal blocked as the kernel would block it. Which path serves is decided once, by a probe, at
// the first signal.
#pragma once

#include <signal.h>

#include <cstdint>

#include "ferrox/vpc/Export.h"
#include "ferrox/vpc/control.h"

namespace ferrox::vpc {

VPC_API void send_driver_signal(int signal, std::int32_t error, std::int32_t code);

// A real-time signal of the virtual PC's own, with this handler (SA_SIGINFO, SA_RESTART): one the
// program has installed nothing for, so that none of its handlers is ever replaced, and never the
// driver's signal 44. The same handler gets the same signal again; 0 when every one is taken.
int claim_signal(void (*handler)(int, siginfo_t*, void*));

// The watcher told of every signal handed to the program's handler directly (control.h).
void watch_delivered_signals(vpc_signal_watcher watch);

// True when signals take the kernel's path (decides it if not yet decided).
VPC_API bool kernel_delivers_signals();

// True on the thread taking the probe that decides it, while it does (async-signal-safe).
bool probing_signals();

}  // namespace ferrox::vpc

// Sending a signal to the calling thread the way a kernel driver's send_sig_info does: a queued
// real-time signal whose siginfo_t is all zero except si_signo, si_errno and si_code.
//
// Natively the virtual PC queues a real signal with rt_tgsigqueueinfo to its own thread (the
// kernel refuses si_code >= 0 from any other sender). Where that path is not faithful (under
// qemu-user si_errno is lost and some codes are refused; under valgrind delivery comes late),
// the installed handler is invoked directly, with the signal blocked as the kernel would block
// it. Which path serves is decided once, by a probe, at the first signal.
#pragma once

#include <cstdint>

#include "ferrox/vpc/Export.h"

namespace vpc {

VPC_API void send_signal_to_this_thread(int signal, std::int32_t error, std::int32_t code);

// True when signals take the kernel's path (decides it if not yet decided).
VPC_API bool kernel_delivers_signals();

}  // namespace vpc

// SPDX-License-Identifier: MIT
// The driver's interrupt requests:
//   18 unmask  TIrqRequest: signal SignalNumber (a real-time signal the C library leaves to
//              programs, 34..64) to ProcessId (the caller), with Component in si_errno and the line
//              in si_code, for every interrupt on Irq from now on; EBUSY when this file already
//              listens to the line
//   19 mask    TIrqRequest: stop that (Component is not looked at); EINVAL when this file does
//              not listen to the line
//   20 count   the line by value in the argument; the result is the count, modulo 2^31, of the
//              line's interrupts the driver took (while any file listened to the line)
// Listeners belong to the file that registered them and go with it; they belong to the process that
// registered them too: a request of another process sharing the file (a forked child) for a line
// this file listens to fails with EPERM.
#include <errno.h>
#include <unistd.h>

#include "ferrox/hwtypes/DriverContract.h"
#include "ferrox/vpc/kernel/driver_requests.h"
#include "ferrox/vpc/kernel/user_memory.h"

namespace ferrox::vpc {

namespace {

// The kernel's real-time signals, which queue instead of merging, less the two the C library keeps
// for its threads (its SIGRTMIN is 34).
constexpr int FirstProgramSignal = 34;
constexpr int KernelSigRtMax = 64;
// Counts travel as results, so they stay below 2^31 where no count reads as a failed request.
constexpr std::uint32_t CountMask = 0x7FFFFFFF;

// The checks every request makes: a line, a real-time signal, and the calling process naming
// itself, for a careful driver signals no other process on the caller's behalf.
bool valid(const ferrox::TIrqRequest& request) {
  return request.Irq < IrqLineCount && request.SignalNumber >= FirstProgramSignal &&
         request.SignalNumber <= KernelSigRtMax && request.ProcessId == getpid();
}

const IrqListener* listener_of(const IrqController& irqs, std::uint32_t file, unsigned line) {
  for (const IrqListener& listener : irqs.listeners())
    if (listener.file == file && listener.line == line) return &listener;
  return nullptr;
}

}  // namespace

DriverIrq::DriverIrq(DeviceNode& node, IrqController& irqs) : irqs_(irqs) {
  node.serve<&DriverIrq::unmask>(ferrox::Request::IrqUnmask, *this);
  node.serve<&DriverIrq::mask>(ferrox::Request::IrqMask, *this);
  node.serve<&DriverIrq::count>(ferrox::Request::IrqCount, *this);
  node.on_release([](void* irqs, const OpenFile& file) { static_cast<IrqController*>(irqs)->release(file.id); }, &irqs_);
}

// A file listens to a line once: unmasking it again is refused, not a second registration.
long DriverIrq::unmask(const OpenFile& file, std::uintptr_t argument) {
  ferrox::TIrqRequest request;
  if (!copy_from_user(&request, argument, sizeof request)) return -EFAULT;
  if (!valid(request)) return -EINVAL;
  if (const IrqListener* listener = listener_of(irqs_, file.id, request.Irq))
    return listener->process == request.ProcessId ? -EBUSY : -EPERM;
  irqs_.listen({file.id, request.ProcessId, request.SignalNumber, request.Irq, request.Component});
  return 0;
}

long DriverIrq::mask(const OpenFile& file, std::uintptr_t argument) {
  ferrox::TIrqRequest request;
  if (!copy_from_user(&request, argument, sizeof request)) return -EFAULT;
  if (!valid(request)) return -EINVAL;
  const IrqListener* listener = listener_of(irqs_, file.id, request.Irq);
  if (!listener) return -EINVAL;
  if (listener->process != request.ProcessId) return -EPERM;
  irqs_.unlisten(file.id, request.ProcessId, request.Irq);
  return 0;
}

long DriverIrq::count(const OpenFile&, std::uintptr_t argument) {
  if (argument >= IrqLineCount) return -EINVAL;
  return irqs_.taken(static_cast<unsigned>(argument)) & CountMask;
}

}  // namespace ferrox::vpc

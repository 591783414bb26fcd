// The driver's interrupt requests:
//   18 unmask  TIrqRequest: signal SignalNumber (a real-time signal the C library leaves to
//              programs, 34..64) to ProcessId (the caller), with Component in si_errno and the line
//              in si_code, for every interrupt on Irq from now on; EBUSY when this descriptor
//              already listens to the line
//   19 mask    TIrqRequest: stop that (Component is not looked at); EINVAL when this descriptor
//              does not listen to the line
//   20 count   the line by value in the argument; the result is the count, modulo 2^31, of the
//              line's interrupts the driver took (while any descriptor listened to the line)
// Listeners belong to the file that registered them and go with it; they belong to the process that
// registered them too: a request of another process sharing the file (a forked child) for a line
// this file listens to fails with EPERM.
#include "ferrox/vpc/kernel/driver_irq.h"

#include <errno.h>
#include <unistd.h>

#include <cstring>

#include "ferrox/hwtypes/DriverContract.h"

namespace vpc {

namespace {

ferrox::TIrqRequest read_request(std::uintptr_t argument) {
  ferrox::TIrqRequest request;
  std::memcpy(&request, reinterpret_cast<const void*>(argument), sizeof request);
  return request;
}

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

const IrqListener* listener_of(const IrqController& irqs, int descriptor, unsigned line) {
  for (const IrqListener& listener : irqs.listeners())
    if (listener.descriptor == descriptor && listener.line == line) return &listener;
  return nullptr;
}

// A descriptor listens to a line once: unmasking it again is refused, not a second registration.
long unmask(IrqController& irqs, Descriptor& descriptor, std::uintptr_t argument) {
  ferrox::TIrqRequest request = read_request(argument);
  if (!valid(request)) return -EINVAL;
  if (const IrqListener* listener = listener_of(irqs, descriptor.fd, request.Irq))
    return listener->process == request.ProcessId ? -EBUSY : -EPERM;
  irqs.listen({descriptor.fd, request.ProcessId, request.SignalNumber, request.Irq, request.Component});
  return 0;
}

long mask(IrqController& irqs, Descriptor& descriptor, std::uintptr_t argument) {
  ferrox::TIrqRequest request = read_request(argument);
  if (!valid(request)) return -EINVAL;
  const IrqListener* listener = listener_of(irqs, descriptor.fd, request.Irq);
  if (!listener) return -EINVAL;
  if (listener->process != request.ProcessId) return -EPERM;
  irqs.unlisten(descriptor.fd, request.ProcessId, request.Irq);
  return 0;
}

long count(IrqController& irqs, std::uintptr_t argument) {
  if (argument >= IrqLineCount) return -EINVAL;
  return irqs.taken(static_cast<unsigned>(argument)) & CountMask;
}

}  // namespace

void serve_irq_requests(DeviceNode& node, IrqController& irqs) {
  auto record = [](const void*) { return sizeof(ferrox::TIrqRequest); };
  node.handle(ferrox::Request::IrqUnmask,
              {record, [&irqs](Descriptor& d, std::uintptr_t argument) { return unmask(irqs, d, argument); }});
  node.handle(ferrox::Request::IrqMask,
              {record, [&irqs](Descriptor& d, std::uintptr_t argument) { return mask(irqs, d, argument); }});
  node.handle(ferrox::Request::IrqCount, {nullptr, [&irqs](Descriptor&, std::uintptr_t argument) { return count(irqs, argument); }});
  node.on_release([&irqs](Descriptor& descriptor) { irqs.release(descriptor.fd); });
}

}  // namespace vpc

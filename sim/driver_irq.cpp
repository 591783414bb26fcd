// The driver's interrupt requests:
//   18 unmask  TIrqRequest: signal SignalNumber to ProcessId, with Component in si_errno and the
//              line in si_code, for every interrupt on Irq from now on
//   19 mask    TIrqRequest: stop that (Component is not looked at)
//   20 count   the line by value in the argument's low 32 bits; the result is the line's count
// Listeners belong to the file that registered them and go with it.
#include "sim/driver_irq.h"

#include <errno.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>

#include "hwtypes/DriverContract.h"

namespace vpc {

namespace {

ferrox::TIrqRequest read_request(std::uintptr_t argument) {
  ferrox::TIrqRequest request;
  std::memcpy(&request, reinterpret_cast<const void*>(argument), sizeof request);
  return request;
}

// The checks every request makes. The virtual PC can only signal its own process, and a careful
// driver signals no process other than the caller on the caller's behalf.
long check(const ferrox::TIrqRequest& request) {
  if (request.Irq >= IrqLineCount) return -EINVAL;
  if (request.SignalNumber < 1 || request.SignalNumber > SIGRTMAX) return -EINVAL;
  if (request.ProcessId != getpid()) return -EPERM;
  return 0;
}

long unmask(IrqController& irqs, Descriptor& descriptor, std::uintptr_t argument) {
  ferrox::TIrqRequest request = read_request(argument);
  if (long error = check(request)) return error;
  irqs.listen({descriptor.fd, request.ProcessId, request.SignalNumber, request.Irq, request.Component});
  return 0;
}

long mask(IrqController& irqs, Descriptor& descriptor, std::uintptr_t argument) {
  ferrox::TIrqRequest request = read_request(argument);
  if (long error = check(request)) return error;
  return irqs.unlisten(descriptor.fd, request.ProcessId, request.Irq) ? 0 : -EINVAL;
}

long count(IrqController& irqs, std::uintptr_t argument) {
  auto line = static_cast<std::uint32_t>(argument);
  if (line >= IrqLineCount) return -EINVAL;
  // The count travels in the int that ioctl returns.
  return static_cast<std::int32_t>(irqs.count(line));
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

// The driver's single-port requests. Each takes a TPortRecord in place: Port in; for a read the
// value is left zero-extended in Value, for a write Value goes out. A wide transfer covers width
// consecutive ports, all of which must exist, and a write's Value must fit its width: a record
// built wrongly fails with EINVAL and nothing is written, rather than a part of it.
//
//   4 / 5  byte in / out
//   6 / 7  word in / out
//   8 / 9  double word in / out
#include "ferrox/vpc/kernel/driver_ports.h"

#include <errno.h>

#include "ferrox/hwtypes/DriverContract.h"

namespace vpc {

namespace {

struct PortTransfer {
  std::uint32_t code;
  unsigned width;
  bool input;
};

constexpr PortTransfer Transfers[] = {
    {ferrox::Request::PortInB, 1, true},  {ferrox::Request::PortOutB, 1, false},
    {ferrox::Request::PortInW, 2, true},  {ferrox::Request::PortOutW, 2, false},
    {ferrox::Request::PortInL, 4, true},  {ferrox::Request::PortOutL, 4, false},
};

constexpr std::uint32_t PortSpace = 0x10000;

bool fits_width(std::uint32_t value, unsigned width) { return width == 4 || value >> (8 * width) == 0; }

long run_transfer(PortBus& bus, const PortTransfer& transfer, ferrox::TPortRecord& record) {
  // The record's field is 32 bits wide; the port space is not.
  if (record.Port > PortSpace - transfer.width) return -EINVAL;
  if (!transfer.input && !fits_width(record.Value, transfer.width)) return -EINVAL;
  auto port = static_cast<std::uint16_t>(record.Port);
  if (transfer.input)
    record.Value = bus.read(port, transfer.width);
  else
    bus.write(port, transfer.width, record.Value);
  return 0;
}

}  // namespace

void serve_port_requests(DeviceNode& node, PortBus& bus) {
  for (const PortTransfer& transfer : Transfers) {
    node.handle(transfer.code,
                RequestHandler{[](const void*) { return sizeof(ferrox::TPortRecord); },
                               [&bus, transfer](Descriptor&, std::uintptr_t argument) {
                                 return run_transfer(bus, transfer, *reinterpret_cast<ferrox::TPortRecord*>(argument));
                               }});
  }
}

}  // namespace vpc

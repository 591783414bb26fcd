// The driver's PCI requests, served the way a driver built on the kernel's configuration-space
// accessors serves them. The record is copied in, checked, and copied back out.
//
//   16 read   Count 1, 2, 4: the register's value as the result (see as_result).
//             Count 64: the 64 configuration bytes from Reg copied over the record; the result
//             is 1, or 0 (the record then all ones, as the bus answers) where no function is.
//   17 write  Count 1, 2, 4: the low Count bytes of Value into the register; the result is 0.
//
// EINVAL: bus or devfn above 255, another Count, a register range past the 256-byte space, or a
// register not aligned to its width (the accessors take naturally aligned registers only).
// ENODEV: a register read or write at a function that does not answer.
#include "sim/driver_pci.h"

#include <errno.h>

#include <cstring>

#include "hwtypes/DriverContract.h"

namespace vpc {

namespace {

using ferrox::TPciRequest;

constexpr long MaxErrno = 4095;

TPciRequest copy_in(std::uintptr_t argument) {
  TPciRequest record;
  std::memcpy(&record, reinterpret_cast<const void*>(argument), sizeof record);
  return record;
}

bool is_register_width(unsigned count) { return count == 1 || count == 2 || count == 4; }

bool valid_range(const TPciRequest& record) {
  return record.Bus <= 0xFF && record.DevFn <= 0xFF && record.Reg % record.Count == 0 &&
         record.Reg + record.Count <= PciConfigSize;
}

// A value travels as the request's result, in the form a 32-bit process receives it: the 32-bit
// value sign-extended, on a 64-bit kernel as well, so 32- and 64-bit callers see the same results.
// In that form 0xFFFFF001..0xFFFFFFFF fall in the error range -4095..-1 and cannot travel: the
// request fails with ERANGE and the caller finds -1, the all ones of PCI's "no device".
long as_result(std::uint32_t value) {
  long result = static_cast<std::int32_t>(value);
  return result < 0 && result >= -MaxErrno ? -ERANGE : result;
}

long read_config(PciBus& bus, std::uintptr_t argument) {
  TPciRequest record = copy_in(argument);
  bool header = record.Count == ferrox::PciHeaderCount;
  if (!(header || is_register_width(record.Count)) || !valid_range(record)) return -EINVAL;
  PciFunction* function = bus.find(static_cast<std::uint8_t>(record.Bus), static_cast<std::uint8_t>(record.DevFn));
  if (!header) return function ? as_result(function->read(record.Reg, record.Count)) : -ENODEV;
  std::uint8_t bytes[PciHeaderSize];
  for (unsigned i = 0; i < PciHeaderSize; i += 4) {
    std::uint32_t dword = function ? function->read(record.Reg + i, 4) : 0xFFFFFFFF;
    std::memcpy(bytes + i, &dword, 4);  // the record is little-endian, as is the machine
  }
  std::memcpy(reinterpret_cast<void*>(argument), bytes, sizeof bytes);
  return function ? 1 : 0;
}

long write_config(PciBus& bus, std::uintptr_t argument) {
  TPciRequest record = copy_in(argument);
  if (!is_register_width(record.Count) || !valid_range(record)) return -EINVAL;
  PciFunction* function = bus.find(static_cast<std::uint8_t>(record.Bus), static_cast<std::uint8_t>(record.DevFn));
  if (!function) return -ENODEV;
  function->write(record.Reg, record.Count, record.Value);
  return 0;
}

std::size_t record_size(const void*) { return sizeof(TPciRequest); }

}  // namespace

void serve_pci_requests(DeviceNode& node, PciBus& bus) {
  node.handle(ferrox::Request::PciRead, RequestHandler{record_size, [&bus](Descriptor&, std::uintptr_t argument) {
                                                         return read_config(bus, argument);
                                                       }});
  node.handle(ferrox::Request::PciWrite, RequestHandler{record_size, [&bus](Descriptor&, std::uintptr_t argument) {
                                                          return write_config(bus, argument);
                                                        }});
}

}  // namespace vpc

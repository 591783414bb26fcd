// SPDX-License-Identifier: MIT
// The driver's PCI requests, served the way a driver built on the kernel's configuration-space
// accessors serves them. The record is copied in, checked, and copied back out.
//
//   16 read   Count 1, 2, 4: the register's value as the result, zero-extended (see below); a
//             function or bus that does not answer reads all ones, as the bus answers.
//             Count 64 with Reg 0: the function's 64-byte header copied over the record and the
//             result 1, or the result 0 and the record untouched where no function is.
//   17 write  Count 1, 2, 4: Value into the register; the result is 0. Where no function answers
//             the write fails with ENODEV, rather than vanish unnoticed.
//
// EINVAL: bus or devfn above 255, another Count, a register range past the 4096-byte space, a
// register not aligned to its width (the accessors take naturally aligned registers only), or a
// Value with bits above the register's width (a record built wrongly writes nothing).
#include <errno.h>

#include <cstring>

#include "ferrox/hwtypes/DriverContract.h"
#include "ferrox/vpc/kernel/driver_requests.h"
#include "ferrox/vpc/kernel/user_memory.h"

namespace ferrox::vpc {

namespace {

using ferrox::TPciRequest;

bool is_register_width(unsigned count) { return count == 1 || count == 2 || count == 4; }

std::uint32_t all_ones(unsigned width) { return width == 4 ? 0xFFFFFFFF : (1u << (8 * width)) - 1; }

bool valid_register(const TPciRequest& record) {
  return record.Bus <= 0xFF && record.DevFn <= 0xFF && is_register_width(record.Count) &&
         record.Reg % record.Count == 0 && record.Reg + record.Count <= PciConfigSize;
}

PciFunction* find(PciBus& bus, const TPciRequest& record) {
  return bus.find(static_cast<std::uint8_t>(record.Bus), static_cast<std::uint8_t>(record.DevFn));
}

// The value travels as the request's result, a long: a 64-bit caller receives every 32-bit value,
// while for a 32-bit caller the result is cut to 32 bits and 0xFFFFF001..0xFFFFFFFF land in the
// range its C library takes for an error number, so it receives -1 there.
long as_result(std::uint32_t value) { return static_cast<long>(value); }

long read_header(PciBus& bus, const TPciRequest& record, std::uintptr_t argument) {
  if (record.Bus > 0xFF || record.DevFn > 0xFF || record.Reg != 0) return -EINVAL;
  PciFunction* function = find(bus, record);
  if (!function) return 0;
  std::uint8_t bytes[PciHeaderSize];
  for (unsigned i = 0; i < PciHeaderSize; i += 4) {
    std::uint32_t dword = function->read(i, 4);
    std::memcpy(bytes + i, &dword, 4);  // the record is little-endian, as is the machine
  }
  return copy_to_user(argument, bytes, sizeof bytes) ? 1 : -EFAULT;
}

}  // namespace

DriverPci::DriverPci(DeviceNode& node, PciBus& bus) : bus_(bus) {
  node.serve<&DriverPci::read>(ferrox::Request::PciRead, *this);
  node.serve<&DriverPci::write>(ferrox::Request::PciWrite, *this);
}

long DriverPci::read(const OpenFile&, std::uintptr_t argument) {
  TPciRequest record;
  if (!copy_from_user(&record, argument, sizeof record)) return -EFAULT;
  if (record.Count == ferrox::PciHeaderCount) return read_header(bus_, record, argument);
  if (!valid_register(record)) return -EINVAL;
  PciFunction* function = find(bus_, record);
  return as_result(function ? function->read(record.Reg, record.Count) : all_ones(record.Count));
}

long DriverPci::write(const OpenFile&, std::uintptr_t argument) {
  TPciRequest record;
  if (!copy_from_user(&record, argument, sizeof record)) return -EFAULT;
  if (!valid_register(record) || (record.Value & ~all_ones(record.Count))) return -EINVAL;
  PciFunction* function = find(bus_, record);
  if (!function) return -ENODEV;
  function->write(record.Reg, record.Count, record.Value);
  return 0;
}

}  // namespace ferrox::vpc

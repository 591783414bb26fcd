// SPDX-License-Identifier: MIT
// The driver seen from a test program.
#include "tests/contract/driver.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace contract {

namespace Request = ferrox::Request;

namespace {

std::uint32_t port_in_code(int width) {
  return width == 1 ? Request::PortInB : width == 2 ? Request::PortInW : Request::PortInL;
}

std::uint32_t port_out_code(int width) {
  return width == 1 ? Request::PortOutB : width == 2 ? Request::PortOutW : Request::PortOutL;
}

}  // namespace

Driver::Driver(scenarios::Checks& checks)
    : checks_(checks), fd_(::open(ferrox::DriverDevicePath, O_RDONLY)), open_error_(fd_ < 0 ? errno : 0) {}

Driver::~Driver() {
  if (fd_ >= 0) ::close(fd_);
}

Answer Driver::request(std::uint32_t code, void* record) const {
  errno = 0;
  long result = ::ioctl(fd_, code, record);
  return {result, result == -1 ? errno : 0};
}

Answer Driver::request_value(std::uint32_t code, unsigned long value) const {
  errno = 0;
  long result = ::ioctl(fd_, code, value);
  return {result, result == -1 ? errno : 0};
}

// Scenarios make thousands of port requests: one that fails is a failed check, the others are not
// counted.
std::uint32_t Driver::port_in(int width, std::uint16_t port) const {
  ferrox::TPortRecord record{port, 0};
  if (request(port_in_code(width), &record).result != 0) SCENARIO_CHECK(checks_, !"port read request failed");
  return record.Value;
}

void Driver::port_out(int width, std::uint16_t port, std::uint32_t value) const {
  ferrox::TPortRecord record{port, value};
  if (request(port_out_code(width), &record).result != 0) SCENARIO_CHECK(checks_, !"port write request failed");
}

std::uint32_t Driver::map(std::uint32_t phys, std::uint32_t size) const {
  // The map request reads and writes only the head of a transfer record: PhysAddr, Offset,
  // LinearAddr, Count. LinearAddr starts as a stale value, which a failed map must not leave behind.
  std::uint32_t head[ferrox::MemRecHeadSize / 4] = {phys, 0, 0xDEADBEEF, size};
  request(Request::Map, head);
  return head[offsetof(ferrox::TMemRec, LinearAddr) / 4];
}

Answer Driver::unmap(std::uint32_t handle) const { return request(Request::Unmap, &handle); }

Answer Driver::pci(std::uint32_t code, ferrox::TPciRequest& record) const { return request(code, &record); }

Answer Driver::transfer(std::uint32_t code, std::uint32_t phys, std::uint32_t handle, std::uint32_t offset,
                        std::uint32_t count) const {
  auto record = make_memory_record(phys, handle, offset, count);
  return request(code, record.get());
}

Answer Driver::irq(std::uint32_t code, std::int32_t process, std::int32_t signal, std::uint32_t line,
                   std::uint32_t cookie) const {
  ferrox::TIrqRequest record{process, signal, line, cookie};
  return request(code, &record);
}

std::unique_ptr<ferrox::TMemRec> make_memory_record(std::uint32_t phys, std::uint32_t handle,
                                                    std::uint32_t offset, std::uint32_t count) {
  auto record = std::make_unique<ferrox::TMemRec>();
  record->PhysAddr = phys;
  record->LinearAddr = handle;
  record->Offset = offset;
  record->Count = count;
  return record;
}

ferrox::TPciRequest pci_request(int bus, int device, int function, int reg, int count, std::uint32_t value) {
  ferrox::TPciRequest request{};
  request.Bus = static_cast<std::uint16_t>(bus);
  request.DevFn = static_cast<std::uint16_t>((device & 0x1F) << 3 | (function & 7));
  request.Reg = static_cast<std::uint16_t>(reg);
  request.Count = static_cast<std::uint16_t>(count);
  request.Value = value;
  return request;
}

std::int32_t this_process() { return static_cast<std::int32_t>(::getpid()); }

}  // namespace contract

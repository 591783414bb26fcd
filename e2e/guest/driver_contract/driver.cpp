// The ferrox driver seen from a test program. The library's contract header and the module's C header
// are compiled together here, so the two cannot drift apart unnoticed.
#include "driver.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

#include "common/check.h"
#include "driver/ferrox_ioctl.h"

namespace e2e {
namespace {

namespace Request = ferrox::Request;
static_assert(FERROX_MAP == Request::Map && FERROX_UNMAP == Request::Unmap);
static_assert(FERROX_PORT_IN8 == Request::PortInB && FERROX_PORT_OUT8 == Request::PortOutB);
static_assert(FERROX_PORT_IN16 == Request::PortInW && FERROX_PORT_OUT16 == Request::PortOutW);
static_assert(FERROX_PORT_IN32 == Request::PortInL && FERROX_PORT_OUT32 == Request::PortOutL);
static_assert(FERROX_WINDOW_READ == Request::ReadWindow && FERROX_WINDOW_WRITE == Request::WriteWindow);
static_assert(FERROX_PCI_READ == Request::PciRead && FERROX_PCI_WRITE == Request::PciWrite);
static_assert(FERROX_IRQ_UNMASK == Request::IrqUnmask && FERROX_IRQ_MASK == Request::IrqMask);
static_assert(FERROX_IRQ_COUNT == Request::IrqCount);

static_assert(sizeof(ferrox_port_record) == sizeof(ferrox::TPortRecord));
static_assert(offsetof(ferrox_port_record, value) == offsetof(ferrox::TPortRecord, Value));
static_assert(sizeof(ferrox_memory_head) == ferrox::MemRecHeadSize);
static_assert(offsetof(ferrox_memory_head, linear_addr) == offsetof(ferrox::TMemRec, LinearAddr));
static_assert(offsetof(ferrox_memory_head, count) == offsetof(ferrox::TMemRec, Count));
static_assert(FERROX_TRANSFER_MAX == ferrox::MemRecDataSize);
static_assert(sizeof(ferrox_pci_request) == sizeof(ferrox::TPciRequest));
static_assert(offsetof(ferrox_pci_request, value) == offsetof(ferrox::TPciRequest, Value));
static_assert(FERROX_PCI_HEADER_SIZE == sizeof(ferrox::TPciCfg));
static_assert(sizeof(ferrox_irq_request) == sizeof(ferrox::TIrqRequest));
static_assert(offsetof(ferrox_irq_request, cookie) == offsetof(ferrox::TIrqRequest, Component));

}  // namespace

Driver::Driver() : fd_(::open(ferrox::DriverDevicePath, O_RDONLY)), open_error_(fd_ < 0 ? errno : 0) {}

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

std::uint32_t port_in_code(int width) {
  return width == 1 ? Request::PortInB : width == 2 ? Request::PortInW : Request::PortInL;
}

std::uint32_t port_out_code(int width) {
  return width == 1 ? Request::PortOutB : width == 2 ? Request::PortOutW : Request::PortOutL;
}

// Scenarios make thousands of port requests: one that fails is a failed check, the others are not
// counted.
std::uint32_t Driver::port_in(int width, std::uint16_t port) const {
  ferrox::TPortRecord record{port, 0};
  if (request(port_in_code(width), &record).result != 0) CHECK(!"port read request failed");
  return record.Value;
}

void Driver::port_out(int width, std::uint16_t port, std::uint32_t value) const {
  ferrox::TPortRecord record{port, value};
  if (request(port_out_code(width), &record).result != 0) CHECK(!"port write request failed");
}

std::uint32_t Driver::map(std::uint32_t phys, std::uint32_t size) const {
  // The map request reads and writes only the head of a transfer record. LinearAddr starts as a
  // stale value, which a failed map must not leave behind.
  ferrox_memory_head head{phys, 0, 0xDEADBEEF, size};
  request(Request::Map, &head);
  return head.linear_addr;
}

Answer Driver::unmap(std::uint32_t handle) const { return request(Request::Unmap, &handle); }

Answer Driver::pci(std::uint32_t code, ferrox::TPciRequest& record) const { return request(code, &record); }

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

}  // namespace e2e

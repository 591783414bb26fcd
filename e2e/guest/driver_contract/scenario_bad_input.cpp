// Malformed requests: each fails with its errno, changes nothing, and leaves the driver usable.
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "common/check.h"
#include "common/dev_mem.h"
#include "parallel_port.h"
#include "scenarios.h"

namespace e2e {
namespace {

namespace Request = ferrox::Request;

Answer read_window(const Driver& driver, std::uint32_t phys, std::uint32_t handle, std::uint32_t offset,
                   std::uint32_t count) {
  auto record = make_memory_record(phys, handle, offset, count);
  return driver.request(Request::ReadWindow, record.get());
}

Answer port(const Driver& driver, std::uint32_t code, std::uint32_t number, std::uint32_t value = 0) {
  ferrox::TPortRecord record{number, value};
  return driver.request(code, &record);
}

Answer irq(const Driver& driver, std::uint32_t code, std::int32_t pid, std::int32_t signal, std::uint32_t line) {
  ferrox::TIrqRequest request{pid, signal, line, 1};
  return driver.request(code, &request);
}

// A transfer record whose data area runs into an inaccessible page after valid_bytes.
class RecordAtEdge final {
 public:
  explicit RecordAtEdge(std::uint32_t valid_bytes) {
    long page = ::sysconf(_SC_PAGESIZE);
    void* pages = ::mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED) return;
    ::mprotect(static_cast<char*>(pages) + page, page, PROT_NONE);
    pages_ = pages;
    size_ = 2 * page;
    record_ = reinterpret_cast<ferrox::TMemRec*>(static_cast<char*>(pages) + page - ferrox::MemRecHeadSize -
                                                 valid_bytes);
  }
  ~RecordAtEdge() {
    if (pages_) ::munmap(pages_, size_);
  }
  RecordAtEdge(const RecordAtEdge&) = delete;
  RecordAtEdge& operator=(const RecordAtEdge&) = delete;
  ferrox::TMemRec* get() const { return record_; }

 private:
  void* pages_ = nullptr;
  std::size_t size_ = 0;
  ferrox::TMemRec* record_ = nullptr;
};

}  // namespace

void bad_requests(const Driver& driver) {
  scenario("unknown request codes");
  ferrox::TPortRecord record{lpt::Lpt1 + lpt::Status, 0};
  for (std::uint32_t code : {ferrox::MakeRequestCode('h', 10, 8), ferrox::MakeRequestCode('h', 4, 4),
                             ferrox::MakeRequestCode('g', 4, 8), Request::PortInB & ~0x40000000u,
                             ferrox::MakeRequestCode('h', 20, 4), 0u})
    CHECK(driver.request(code, &record).failed_with(ENOTTY));

  scenario("records the driver cannot read");
  CHECK(driver.request(Request::PortInB, nullptr).failed_with(EFAULT));
  CHECK(driver.request(Request::Map, nullptr).failed_with(EFAULT));
  CHECK(driver.request(Request::PciRead, nullptr).failed_with(EFAULT));

  scenario("ports outside the port space, values wider than the transfer");
  CHECK(port(driver, Request::PortInB, 0x10000).failed_with(EINVAL));
  CHECK(port(driver, Request::PortInW, 0xFFFF).failed_with(EINVAL));
  CHECK(port(driver, Request::PortInL, 0xFFFD).failed_with(EINVAL));
  CHECK_EQ(port(driver, Request::PortInL, 0xFFFC).result, 0);  // the last four ports
  driver.port_out(1, lpt::Lpt1 + lpt::Data, 0x11);
  CHECK(port(driver, Request::PortOutB, lpt::Lpt1 + lpt::Data, 0x1A5).failed_with(EINVAL));
  CHECK(port(driver, Request::PortOutW, lpt::Lpt1 + lpt::Data, 0x10000).failed_with(EINVAL));
  CHECK_EQ(driver.port_in(1, lpt::Lpt1 + lpt::Data), 0x11);
}

void bad_windows(const Driver& driver) {
  scenario("ranges that cannot be mapped answer 0");
  for (auto [phys, size] : {std::pair<std::uint32_t, std::uint32_t>{0x400, 0}, {0xFFFFF000, 0x2000},
                            {0x80000000, 0x20000000}}) {
    errno = 0;
    CHECK_EQ(driver.map(phys, size), 0);
    CHECK_EQ(errno, EINVAL);
  }

  scenario("windows that are not ours");
  std::uint32_t window = driver.map(0x400, 256);
  Driver other;
  std::vector<std::uint32_t> theirs;
  for (int i = 0; i < 3; ++i) theirs.push_back(other.map(0x400, 256));
  for (std::uint32_t handle : theirs)
    if (handle != window) CHECK(read_window(driver, 0x400, handle, 0, 1).failed_with(EINVAL));
  CHECK(read_window(driver, 0x400, 0, 0, 1).failed_with(EINVAL));
  CHECK(read_window(driver, 0x401, window, 0, 1).failed_with(EINVAL));  // not the window's address

  scenario("transfers that reach past the window");
  CHECK_EQ(read_window(driver, 0x400, window, 255, 1).result, 0);
  CHECK_EQ(read_window(driver, 0x400, window, 256, 0).result, 0);
  CHECK(read_window(driver, 0x400, window, 256, 1).failed_with(EINVAL));
  CHECK(read_window(driver, 0x400, window, 0, 257).failed_with(EINVAL));
  CHECK(read_window(driver, 0x400, window, 0xFFFFFFFF, 2).failed_with(EINVAL));
  std::uint32_t wide = driver.map(0xC0000, 0x40000);
  CHECK(read_window(driver, 0xC0000, wide, 0, ferrox::MemRecDataSize + 1).failed_with(EINVAL));
  CHECK_EQ(driver.unmap(wide).result, 0);

  scenario("a write whose data faults half way writes nothing");
  std::uint32_t scratch = driver.map(0x4F0, 16);
  auto original = make_memory_record(0x4F0, scratch, 0, 16);
  CHECK_EQ(driver.request(Request::ReadWindow, original.get()).result, 0);
  auto known = make_memory_record(0x4F0, scratch, 0, 16);
  for (int i = 0; i < 16; ++i) known->Data[i] = static_cast<ferrox::Byte>(0x30 + i);
  CHECK_EQ(driver.request(Request::WriteWindow, known.get()).result, 0);
  RecordAtEdge edge(8);
  if (CHECK(edge.get() != nullptr)) {
    edge.get()->PhysAddr = 0x4F0;
    edge.get()->Offset = 0;
    edge.get()->LinearAddr = scratch;
    edge.get()->Count = 16;
    std::memset(edge.get()->Data, 0xEE, 8);
  }
  CHECK(driver.request(Request::WriteWindow, edge.get()).failed_with(EFAULT));
  CHECK(read_dev_mem(0x4F0, 16) == std::vector<std::uint8_t>(known->Data, known->Data + 16));
  CHECK(driver.request(Request::ReadWindow, edge.get()).failed_with(EFAULT));
  CHECK_EQ(driver.request(Request::WriteWindow, original.get()).result, 0);
  CHECK_EQ(driver.unmap(scratch).result, 0);

  scenario("windows that were released");
  CHECK_EQ(driver.unmap(window).result, 0);
  CHECK(driver.unmap(window).failed_with(EINVAL));
  CHECK(read_window(driver, 0x400, window, 0, 1).failed_with(EINVAL));

  scenario("a descriptor holds a bounded number of windows");
  Driver many;
  std::vector<std::uint32_t> windows;
  for (std::uint32_t handle; (handle = many.map(0x400, 16)) != 0 && windows.size() < 1000;) windows.push_back(handle);
  CHECK_EQ(windows.size(), 64);
  errno = 0;
  CHECK_EQ(many.map(0x400, 16), 0);
  CHECK_EQ(errno, ENOSPC);
}

void bad_pci_requests(const Driver& driver) {
  scenario("PCI registers and functions that do not exist as numbers");
  struct Case {
    int bus, devfn, reg, count;
  };
  for (Case c : {Case{0, 0, 4096, 1}, {0, 0, 4094, 4}, {0, 0, 0x1001, 1}, {0, 0, 1, 2}, {0, 0, 2, 4}, {0, 0, 0, 3},
                 {0, 0, 0, 0}, {0, 0, 0, 8}, {256, 0, 0, 4}, {0, 256, 0, 4}, {0, 0, 4, 64}}) {
    ferrox::TPciRequest request{};
    request.Bus = static_cast<std::uint16_t>(c.bus);
    request.DevFn = static_cast<std::uint16_t>(c.devfn);
    request.Reg = static_cast<std::uint16_t>(c.reg);
    request.Count = static_cast<std::uint16_t>(c.count);
    CHECK(driver.pci(Request::PciRead, request).failed_with(EINVAL));
    if (c.count != 64) CHECK(driver.pci(Request::PciWrite, request).failed_with(EINVAL));
  }

  scenario("PCI writes of values wider than the register, and to a missing bus");
  auto line = pci_request(0, 0, 0, 0x3C, 1);
  long original = driver.pci(Request::PciRead, line).result;
  auto wide = pci_request(0, 0, 0, 0x3C, 1, 0x1A5);
  CHECK(driver.pci(Request::PciWrite, wide).failed_with(EINVAL));
  wide = pci_request(0, 0, 0, 0x3C, 2, 0x10000);
  CHECK(driver.pci(Request::PciWrite, wide).failed_with(EINVAL));
  CHECK_EQ(driver.pci(Request::PciRead, line).result, original);
  auto nowhere = pci_request(200, 0, 0, 0x3C, 1, 0x11);
  CHECK(driver.pci(Request::PciWrite, nowhere).failed_with(ENODEV));
}

void bad_interrupt_requests(const Driver& driver) {
  scenario("interrupt requests for lines, signals and processes that do not fit");
  const std::int32_t self = static_cast<std::int32_t>(::getpid());
  for (std::uint32_t code : {Request::IrqUnmask, Request::IrqMask}) {
    CHECK(irq(driver, code, self, 44, 16).failed_with(EINVAL));
    CHECK(irq(driver, code, self, 44, 0xFFFFFFFF).failed_with(EINVAL));
    for (std::int32_t signal : {0, 9, 31, 65, -44}) CHECK(irq(driver, code, self, signal, 5).failed_with(EINVAL));
    for (std::int32_t pid : {0, 1, -1}) CHECK(irq(driver, code, pid, 44, 5).failed_with(EINVAL));
  }
  CHECK(driver.request(Request::IrqUnmask, nullptr).failed_with(EFAULT));
  CHECK(driver.request_value(Request::IrqCount, 16).failed_with(EINVAL));
  CHECK(driver.request_value(Request::IrqCount, ~0ul).failed_with(EINVAL));

  scenario("masking a line that is not unmasked, unmasking one twice");
  CHECK(irq(driver, Request::IrqMask, self, 44, 7).failed_with(EINVAL));
  CHECK_EQ(irq(driver, Request::IrqUnmask, self, 44, 7).result, 0);
  CHECK(irq(driver, Request::IrqUnmask, self, 44, 7).failed_with(EBUSY));
  CHECK_EQ(irq(driver, Request::IrqMask, self, 44, 7).result, 0);
  CHECK(irq(driver, Request::IrqMask, self, 44, 7).failed_with(EINVAL));
}

void still_healthy(const Driver& driver) {
  scenario("the driver still serves after the bad requests");
  CHECK(driver.port_in(1, lpt::Lpt1 + lpt::Status) & lpt::NotBusy);
  auto header = pci_request(0, 0, 0, 0, ferrox::PciHeaderCount);
  CHECK_EQ(driver.pci(Request::PciRead, header).result, 1);
  std::uint32_t window = driver.map(0x408, 2);
  CHECK(window != 0);
  CHECK_EQ(driver.unmap(window).result, 0);
}

}  // namespace e2e

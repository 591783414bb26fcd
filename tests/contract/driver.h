// SPDX-License-Identifier: MIT
// The driver behind "/dev/ferrox" as a test program sees it: the descriptor and its requests with
// the contract's records, answering what ioctl returned and errno. The same code talks to the
// kernel driver inside the emulated PC and to the virtual PC in the ordinary suite.
#pragma once

#include <cstdint>
#include <memory>

#include "ferrox/hwtypes/DriverContract.h"
#include "tests/scenarios/scenario_checks.h"

namespace contract {

struct Answer {
  long result = 0;  // the ioctl result
  int error = 0;    // errno when the result is -1, else 0

  bool failed_with(int expected) const { return result == -1 && error == expected; }
};

class Driver final {
 public:
  // Opens the node read-only, as the library does; a port request that fails is a failed check.
  explicit Driver(scenarios::Checks& checks);
  ~Driver();
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  bool is_open() const { return fd_ >= 0; }
  int open_error() const { return open_error_; }

  Answer request(std::uint32_t code, void* record) const;
  Answer request_value(std::uint32_t code, unsigned long value) const;

  // Requests that a scenario expects to work.
  std::uint32_t port_in(int width, std::uint16_t port) const;
  void port_out(int width, std::uint16_t port, std::uint32_t value) const;
  // The window's handle, 0 when it could not be mapped (errno says why).
  std::uint32_t map(std::uint32_t phys, std::uint32_t size) const;
  Answer unmap(std::uint32_t handle) const;
  Answer pci(std::uint32_t code, ferrox::TPciRequest& request) const;
  // Reads or writes count bytes of a window from offset, with a record of its own.
  Answer transfer(std::uint32_t code, std::uint32_t phys, std::uint32_t handle, std::uint32_t offset,
                  std::uint32_t count) const;
  Answer irq(std::uint32_t code, std::int32_t process, std::int32_t signal, std::uint32_t line,
             std::uint32_t cookie = 1) const;
  // The driver's count of interrupts on the line (request 20).
  long irq_count(unsigned line) const { return request_value(ferrox::Request::IrqCount, line).result; }

 private:
  scenarios::Checks& checks_;
  int fd_ = -1;
  int open_error_ = 0;
};

// A whole transfer record (65552 bytes), too large for the stack.
std::unique_ptr<ferrox::TMemRec> make_memory_record(std::uint32_t phys, std::uint32_t handle,
                                                    std::uint32_t offset, std::uint32_t count);

ferrox::TPciRequest pci_request(int bus, int device, int function, int reg, int count, std::uint32_t value = 0);

// The calling process as interrupt requests name it.
std::int32_t this_process();

}  // namespace contract

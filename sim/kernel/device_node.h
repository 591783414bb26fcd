// The device node "/dev/ferrox" of the virtual PC: its descriptors and the request dispatcher,
// checking requests as a careful kernel driver would. Subsystems of the machine register the
// requests they serve; an unknown code fails with ENOTTY.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <set>

#include "ferrox/vpc/Export.h"
#include "ferrox/vpc/kernel/faults.h"
#include "ferrox/vpc/kernel/request_log.h"

namespace vpc {

// What a driver keeps per open file (private_data).
struct Descriptor {
  int fd = -1;
};

struct RequestHandler {
  // How many bytes of the record at the argument to copy into the log; 0 when the argument is
  // a plain value.
  std::function<std::size_t(const void* record)> record_size;
  // Carries the request out. Returns the request's result, or -errno (-4095..-1) to fail.
  std::function<long(Descriptor&, std::uintptr_t argument)> run;
};

class VPC_API DeviceNode {
 public:
  DeviceNode(RequestLog& log, Faults& faults) : log_(log), faults_(faults) {}

  // Registers the handler of one request code (type, number and size must all match).
  void handle(std::uint32_t code, RequestHandler handler) { handlers_[code] = std::move(handler); }
  // Called with each descriptor as it is released, so subsystems free what it holds.
  void on_release(std::function<void(Descriptor&)> release) { releases_.push_back(std::move(release)); }

  static bool is_node_path(const char* path);

  // The C-library level operations, with the C library's conventions (-1 and errno).
  int open(const char* path, int flags);
  // True for descriptors this node handed out, open or already closed.
  bool knows(int fd) const { return open_.count(fd) || closed_.count(fd); }
  bool is_open(int fd) const { return open_.count(fd) != 0; }
  int close(int fd);
  int ioctl(int fd, unsigned long code, std::uintptr_t argument);

  std::size_t open_descriptors() const { return open_.size(); }

 private:
  long dispatch(Descriptor& descriptor, std::uint32_t code, std::uintptr_t argument, LogEntry& entry);

  RequestLog& log_;
  Faults& faults_;
  std::map<std::uint32_t, RequestHandler> handlers_;
  std::vector<std::function<void(Descriptor&)>> releases_;
  std::map<int, Descriptor> open_;
  std::set<int> closed_;
};

}  // namespace vpc

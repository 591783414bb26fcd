// The device node: descriptors, dispatch and the log of every request.
#include "ferrox/vpc/kernel/device_node.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

#include "ferrox/vpc/kernel/real_libc.h"

namespace vpc {

namespace {

// Follows the kernel's convention for system call results: -4095..-1 are errors. Any other
// result reaches the caller cut to the int that ioctl returns, with errno untouched.
bool is_error_result(long result) { return result < 0 && result >= -4095; }

int to_libc_result(long result) {
  if (is_error_result(result)) {
    errno = static_cast<int>(-result);
    return -1;
  }
  return static_cast<int>(result);
}

std::vector<std::uint8_t> copy_record(std::uintptr_t argument, std::size_t size) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(argument);
  return size && bytes ? std::vector<std::uint8_t>(bytes, bytes + size) : std::vector<std::uint8_t>{};
}

}  // namespace

bool DeviceNode::is_node_path(const char* path) { return path && std::strcmp(path, "/dev/ferrox") == 0; }

int DeviceNode::open(const char* path, int flags) {
  int error = faults_.open_error();
  int fd = -1;
  if (!error) {
    // A real descriptor, so descriptor numbers, leaks and inheritance by programs the caller
    // executes behave as with a real driver: close-on-exec only when the caller asks for it.
    fd = memfd_create("ferrox", (flags & O_CLOEXEC) ? MFD_CLOEXEC : 0);
    if (fd < 0) error = errno;
  }
  if (fd >= 0) {
    open_[fd] = Descriptor{fd};
    closed_.erase(fd);
  }
  LogEntry entry;
  entry.event = Event::Open;
  entry.fd = fd;
  entry.path = path;
  entry.value = static_cast<std::uint32_t>(flags);
  entry.result = fd;
  entry.error = error;
  log_.add(std::move(entry));
  if (fd < 0) errno = error;
  return fd;
}

int DeviceNode::close(int fd) {
  auto found = open_.find(fd);
  LogEntry entry;
  entry.event = Event::Close;
  entry.fd = fd;
  if (found == open_.end()) {
    entry.result = -1;
    entry.error = EBADF;
    log_.add(std::move(entry));
    errno = EBADF;
    return -1;
  }
  for (auto& release : releases_) release(found->second);
  open_.erase(found);
  closed_.insert(fd);
  int result = real_libc::close(fd);
  entry.result = result;
  log_.add(std::move(entry));
  return result;
}

int DeviceNode::ioctl(int fd, unsigned long code, std::uintptr_t argument) {
  LogEntry entry;
  entry.event = Event::Request;
  entry.fd = fd;
  entry.code = static_cast<std::uint32_t>(code);
  entry.argument = argument;
  long result;
  auto found = open_.find(fd);
  if (found == open_.end()) {
    result = -EBADF;
  } else if (auto error = faults_.take_request_failure(entry.number())) {
    result = -*error;
  } else {
    result = dispatch(found->second, entry.code, argument, entry);
  }
  int libc_result = to_libc_result(result);
  int error = is_error_result(result) ? static_cast<int>(-result) : 0;
  entry.result = libc_result;
  entry.error = error;
  log_.add(std::move(entry));
  if (error) errno = error;
  return libc_result;
}

long DeviceNode::dispatch(Descriptor& descriptor, std::uint32_t code, std::uintptr_t argument, LogEntry& entry) {
  auto handler = handlers_.find(code);
  if (handler == handlers_.end()) return -ENOTTY;
  if (handler->second.record_size && argument == 0) return -EFAULT;
  std::size_t size = handler->second.record_size ? handler->second.record_size(reinterpret_cast<const void*>(argument)) : 0;
  entry.sent = copy_record(argument, size);
  long result = handler->second.run(descriptor, argument);
  entry.returned = copy_record(argument, size);
  return result;
}

}  // namespace vpc

// SPDX-License-Identifier: MIT
// The device node: files, descriptors, dispatch, and the log of what crossed.
#include "ferrox/vpc/kernel/device_node.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>

#include "ferrox/hwtypes/DriverContract.h"
#include "ferrox/vpc/kernel/driver_requests.h"
#include "ferrox/interpose/next_symbol.h"
#include "ferrox/vpc/kernel/port_trap.h"
#include "ferrox/vpc/kernel/user_memory.h"

namespace ferrox::vpc {

using interpose::DescriptorTable;
namespace next = interpose::next;

namespace {

// The name of the real file behind each of the node's descriptors, as /proc/self/fd shows it.
constexpr char NodeFileName[] = "ferrox-vpc-node";
constexpr char NodeFileLink[] = "/memfd:ferrox-vpc-node";

RecordCopy copy_record(std::uintptr_t argument, std::size_t size) {
  std::uint8_t bytes[RecordCopy::Capacity];
  size = std::min(size, RecordCopy::Capacity);
  RecordCopy copy;
  if (size && copy_from_user(bytes, argument, size)) copy.assign(bytes, size);
  return copy;
}

void add_result(LogEntry& entry, long result) {
  entry.result = is_error_result(result) ? -1 : result;
  entry.error = is_error_result(result) ? static_cast<int>(-result) : 0;
}

}  // namespace

void DeviceNode::serve(std::uint32_t code, Run run, void* server) {
  handlers_[ferrox::RequestNumberOf(code)] = {code, run, server};
}

int DeviceNode::open(int flags) {
  int fd = -faults_.open_error();
  if (fd == 0 && replay_) fd = static_cast<int>(replay_->open(flags).value_or(0));
  if (fd == 0) {
    fd = memfd_create(NodeFileName, (flags & O_CLOEXEC) ? MFD_CLOEXEC : 0);
    if (fd < 0) fd = -errno;
  }
  if (fd >= DescriptorTable::Limit) {
    next::close(fd);
    fd = -EMFILE;
  }
  if (fd >= 0) {
    descriptors_.set(fd, new_file());
    arm_fault_handler();  // requests copy their records, and end those copies at a fault
  }
  if (log_.recording()) {
    LogEntry entry;
    entry.event = Event::Open;
    entry.fd = fd < 0 ? -1 : fd;
    entry.path = ferrox::DriverDevicePath;
    entry.value = static_cast<std::uint32_t>(flags);
    add_result(entry, fd);
    log_.add(entry);
  }
  return fd;
}

bool DeviceNode::opened_before_exec(int fd) {
  char path[32], link[64];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
  ssize_t length = readlink(path, link, sizeof link - 1);
  if (length < 0) return false;
  link[length] = '\0';
  return std::strncmp(link, NodeFileLink, sizeof NodeFileLink - 1) == 0;
}

int DeviceNode::close(int fd) {
  std::uint32_t id = descriptors_.at(fd);
  int result = id == DescriptorTable::None || id == DescriptorTable::Closed ? -EBADF : 0;
  if (result == 0) {
    closed(fd);
    if (next::close(fd) != 0) result = -errno;
  }
  if (replay_ && id != DescriptorTable::None) result = static_cast<int>(replay_->close(result));
  if (log_.recording()) {
    LogEntry entry;
    entry.event = Event::Close;
    entry.fd = fd;
    add_result(entry, result);
    log_.add(entry);
  }
  return result;
}

long DeviceNode::logged_ioctl(int fd, std::uint32_t file, std::uint32_t request, std::uintptr_t argument) {
  LogEntry entry;
  entry.event = Event::Request;
  entry.fd = fd;
  entry.code = request;
  entry.argument = argument;
  std::size_t record_size = request_record_size(request, argument);
  entry.sent = copy_record(argument, record_size);
  long result = serve(file, request, argument);
  entry.returned = copy_record(argument, record_size);
  add_result(entry, result);
  log_.add(entry);
  return result;
}

bool DeviceNode::still_closed(int fd) { return next::fcntl(fd, F_GETFD, nullptr) == -1; }

long DeviceNode::injected_failure(std::uint32_t code) {
  std::optional<int> failure = faults_.take_request_failure(ferrox::RequestNumberOf(code));
  return failure ? -*failure : 0;
}

long DeviceNode::serve(std::uint32_t id, std::uint32_t code, std::uintptr_t argument) {
  if (id == DescriptorTable::Closed) return -EBADF;
  if (faults_.fails_requests())
    if (long failure = injected_failure(code)) return failure;
  const Handler& handler = handlers_[ferrox::RequestNumberOf(code)];
  if (!handler.run || handler.code != code) return -ENOTTY;
  return handler.run(handler.server, files_[id - 1].file, argument);
}

void DeviceNode::duplicated(int fd, int target) {
  if (fd == target) return;
  std::uint32_t id = descriptors_.at(fd);
  bool names_file = id != DescriptorTable::None && id != DescriptorTable::Closed;
  if (target < 0 || target >= DescriptorTable::Limit) return;
  closed(target);
  if (!names_file) {
    descriptors_.set(target, DescriptorTable::None);
    return;
  }
  ++files_[id - 1].descriptors;
  descriptors_.set(target, id);
}

void DeviceNode::closed(int fd) {
  std::uint32_t id = descriptors_.at(fd);
  if (id == DescriptorTable::None || id == DescriptorTable::Closed) return;
  descriptors_.set(fd, DescriptorTable::Closed);
  drop(id);
}

void DeviceNode::closed_from(int first, int last) {
  std::vector<int> gone;
  descriptors_.for_each_file(first, [&](int fd, std::uint32_t) {
    if (fd <= last) gone.push_back(fd);
  });
  for (int fd : gone) closed(fd);
}

std::size_t DeviceNode::open_files() const {
  return static_cast<std::size_t>(
      std::count_if(files_.begin(), files_.end(), [](const FileSlot& slot) { return slot.descriptors != 0; }));
}

std::uint32_t DeviceNode::new_file() {
  auto free = std::find_if(files_.begin(), files_.end(), [](const FileSlot& slot) { return slot.descriptors == 0; });
  if (free == files_.end()) free = files_.insert(files_.end(), FileSlot{});
  auto id = static_cast<std::uint32_t>(free - files_.begin() + 1);
  *free = FileSlot{OpenFile{id}, 1};
  return id;
}

void DeviceNode::drop(std::uint32_t id) {
  FileSlot& slot = files_[id - 1];
  if (--slot.descriptors != 0) return;
  for (const ReleaseHook& hook : releases_) hook.release(hook.server, slot.file);
}

}  // namespace ferrox::vpc

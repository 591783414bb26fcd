// SPDX-License-Identifier: MIT
// The device node "/dev/ferrox" of the virtual PC: its open files, the descriptors that name them,
// and the dispatch of requests, as a kernel driver's file operations:
//
//   open     a new file, named by a real descriptor (so numbers, limits and leaks behave as with a
//            real driver), close-on-exec only when asked for with O_CLOEXEC
//   dup      (dup, dup2, dup3, fcntl F_DUPFD, and their undoing by close, close_range, closefrom)
//            another descriptor for the same file
//   release  when the last descriptor of a file goes: the subsystems give back what it holds
//   ioctl    the request whose full code (type, number, size) a subsystem serves; ENOTTY otherwise
//
// Results follow the kernel's convention: a value, or -errno (-4095..-1). The C library's (-1 and
// errno) is the interposer's business.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "ferrox/hwtypes/DriverContract.h"
#include "ferrox/interpose/descriptor_table.h"
#include "ferrox/vpc/Export.h"
#include "ferrox/vpc/kernel/faults.h"
#include "ferrox/vpc/kernel/replay.h"
#include "ferrox/vpc/kernel/request_log.h"

namespace ferrox::vpc {

// What a driver keeps per open file (its private_data): here the id that the subsystems file their
// own state under (the windows and listeners it holds).
struct OpenFile {
  std::uint32_t id = 0;
};

class VPC_API DeviceNode {
 public:
  // Carries out one request on a file; returns its result or -errno.
  using Run = long (*)(void* server, const OpenFile& file, std::uintptr_t argument);
  using Release = void (*)(void* server, const OpenFile& file);

  DeviceNode(RequestLog& log, Faults& faults) : log_(log), faults_(faults) {}
  DeviceNode(const DeviceNode&) = delete;
  DeviceNode& operator=(const DeviceNode&) = delete;

  // Registers the handler of one request code, replacing any other of the same number.
  void serve(std::uint32_t code, Run run, void* server);
  template <auto Member, class Server>
  void serve(std::uint32_t code, Server& server) {
    serve(code, [](void* s, const OpenFile& file, std::uintptr_t argument) -> long {
      return (static_cast<Server*>(s)->*Member)(file, argument);
    }, &server);
  }
  // Called with each file as its last descriptor goes, so the subsystems free what it holds.
  void on_release(Release release, void* server) { releases_.push_back({release, server}); }

  // The file operations. open returns the new descriptor, close and ioctl the result. ioctl
  // gives nothing for a descriptor that is not the node's, to be passed on: one the node handed
  // out and the program closed is still the node's (EBADF) while nothing else has its number.
  int open(int flags);
  int close(int fd);
  std::optional<long> ioctl(int fd, unsigned long code, std::uintptr_t argument) {
    std::uint32_t file = descriptors_.at(fd);
    if (file == interpose::DescriptorTable::None || (file == interpose::DescriptorTable::Closed && !still_closed(fd))) return std::nullopt;
    auto request = static_cast<std::uint32_t>(code);
    if (replay_ && file != interpose::DescriptorTable::Closed) return replay_->request(fd, request, argument);
    return log_.recording() ? logged_ioctl(fd, file, request, argument) : serve(file, request, argument);
  }
  // The program made `target` a copy of `fd` (which may name a file of the node or not), or closed
  // descriptors: the node follows.
  void duplicated(int fd, int target);
  void closed(int fd);
  void closed_from(int first, int last);

  // Whether a descriptor names an open file of the node; lock-free.
  bool owns(int fd) const { return descriptors_.is_file(fd); }
  // Whether a descriptor the node does not know names a file the node of an earlier image of the
  // process opened, kept across exec (whose machine did not come along).
  static bool opened_before_exec(int fd);

  std::size_t open_files() const;

  // While a replay runs, it answers the node's calls instead of the machine (nullptr: the machine).
  void answer_from(Replay* replay) { replay_ = replay; }
  Replay* replay() const { return replay_; }

 private:
  struct Handler {
    std::uint32_t code = 0;
    Run run = nullptr;
    void* server = nullptr;
  };
  struct ReleaseHook {
    Release release;
    void* server;
  };
  struct FileSlot {
    OpenFile file;
    unsigned descriptors = 0;  // 0: the slot is free
  };

  std::uint32_t new_file();
  // One descriptor less for the file; the last one releases it.
  void drop(std::uint32_t id);
  // The request on a file (or on Closed) carried out, or refused, without a word in the log.
  long serve(std::uint32_t file, std::uint32_t code, std::uintptr_t argument);
  long logged_ioctl(int fd, std::uint32_t file, std::uint32_t code, std::uintptr_t argument);
  // Whether a descriptor number is free (under qemu-user the kernel's own answer for an unknown
  // descriptor is ENOSYS, not EBADF, so the node answers for its closed ones).
  static bool still_closed(int fd);
  // The failure injected for this request, or 0; kept apart from the path of every request.
  [[gnu::cold, gnu::noinline]] long injected_failure(std::uint32_t code);

  RequestLog& log_;
  Faults& faults_;
  std::array<Handler, 256> handlers_{};  // by request number
  std::vector<ReleaseHook> releases_;
  std::vector<FileSlot> files_;  // file id - 1
  interpose::DescriptorTable descriptors_;
  Replay* replay_ = nullptr;
};

// The kernel's convention for system call results: -4095..-1 are errors.
constexpr bool is_error_result(long result) { return result < 0 && result >= -4095; }

}  // namespace ferrox::vpc

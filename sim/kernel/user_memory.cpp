// Copies checked by the kernel: process_vm_readv and process_vm_writev on the process itself. Where
// those do not exist (qemu-user answers ENOSYS), the emulator's own check of a system call's buffer
// is asked instead: a write of the bytes to /dev/null fails with EFAULT unless they are readable,
// and a read from /dev/null (which moves nothing) fails unless they are writable. Natively those
// two calls do not look at the buffer, which is why they only serve as the fallback.
//
// A copy that succeeds leaves errno alone; one that fails leaves it changed, and the request then
// fails with EFAULT, which errno becomes.
#include "ferrox/vpc/kernel/user_memory.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cstring>

#include "ferrox/vpc/kernel/next_symbol.h"

namespace vpc {

namespace {

int null_device() {
  static const int fd = next::open("/dev/null", O_RDWR | O_CLOEXEC, 0);
  return fd;
}

enum class Checker { Undecided, Kernel, Emulator };
Checker checker = Checker::Undecided;

// Whether the kernel's copies serve: asked once, with a copy that cannot fault.
[[gnu::noinline]] bool decide_checker() {
  int saved_errno = errno;
  int probe = 0, copy = 0;
  iovec here{&copy, sizeof copy}, there{&probe, sizeof probe};
  bool copied = process_vm_readv(getpid(), &here, 1, &there, 1, 0) == static_cast<ssize_t>(sizeof copy);
  errno = saved_errno;
  checker = copied ? Checker::Kernel : Checker::Emulator;
  return copied;
}

inline bool kernel_copies() {
  return checker == Checker::Kernel || (checker == Checker::Undecided && decide_checker());
}

}  // namespace

bool copy_from_user(void* to, std::uintptr_t from, std::size_t size) {
  if (size == 0) return true;
  if (kernel_copies()) {
    iovec here{to, size}, there{reinterpret_cast<void*>(from), size};
    return process_vm_readv(getpid(), &here, 1, &there, 1, 0) == static_cast<ssize_t>(size);
  }
  if (write(null_device(), reinterpret_cast<const void*>(from), size) != static_cast<ssize_t>(size)) return false;
  std::memcpy(to, reinterpret_cast<const void*>(from), size);
  return true;
}

bool copy_to_user(std::uintptr_t to, const void* from, std::size_t size) {
  if (size == 0) return true;
  if (kernel_copies()) {
    iovec here{const_cast<void*>(from), size}, there{reinterpret_cast<void*>(to), size};
    return process_vm_writev(getpid(), &here, 1, &there, 1, 0) == static_cast<ssize_t>(size);
  }
  if (read(null_device(), reinterpret_cast<void*>(to), size) != 0) return false;
  std::memcpy(reinterpret_cast<void*>(to), from, size);
  return true;
}

bool copy_to_user(std::uintptr_t to, std::span<const iovec> pieces, std::size_t size) {
  if (size == 0) return true;
  if (kernel_copies()) {
    iovec there{reinterpret_cast<void*>(to), size};
    return process_vm_writev(getpid(), pieces.data(), pieces.size(), &there, 1, 0) == static_cast<ssize_t>(size);
  }
  if (read(null_device(), reinterpret_cast<void*>(to), size) != 0) return false;
  for (const iovec& piece : pieces) {
    std::memcpy(reinterpret_cast<void*>(to), piece.iov_base, piece.iov_len);
    to += piece.iov_len;
  }
  return true;
}

}  // namespace vpc

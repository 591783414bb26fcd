// Copies checked by the kernel: process_vm_readv and process_vm_writev on the process itself. Where
// those do not exist (qemu-user answers ENOSYS), the emulator's own check of a system call's buffer
// is asked instead: a write of the bytes to /dev/null fails with EFAULT unless they are readable,
// and a read from /dev/null (which moves nothing) fails unless they are writable. Natively those
// two calls do not look at the buffer, which is why they only serve as the fallback.
#include "ferrox/vpc/kernel/user_memory.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cstring>

#include "ferrox/vpc/kernel/next_symbol.h"

namespace vpc {

namespace {

enum class Checker { Undecided, Kernel, Emulator };
Checker checker = Checker::Undecided;

int null_device() {
  static const int fd = next::open("/dev/null", O_RDWR | O_CLOEXEC, 0);
  return fd;
}

bool readable_in_emulator(std::uintptr_t address, std::size_t size) {
  return write(null_device(), reinterpret_cast<const void*>(address), size) == static_cast<ssize_t>(size);
}

bool writable_in_emulator(std::uintptr_t address, std::size_t size) {
  return read(null_device(), reinterpret_cast<void*>(address), size) == 0;
}

// A copy through the kernel: true when it moved every byte; the checker is decided at the first.
template <class Transfer>
bool kernel_copy(Transfer transfer, void* local, std::uintptr_t remote, std::size_t size) {
  iovec here{local, size};
  iovec there{reinterpret_cast<void*>(remote), size};
  ssize_t moved = transfer(getpid(), &here, 1, &there, 1, 0);
  if (moved < 0 && errno == ENOSYS && checker == Checker::Undecided) checker = Checker::Emulator;
  if (moved >= 0) checker = Checker::Kernel;
  return moved == static_cast<ssize_t>(size);
}

}  // namespace

bool copy_from_user(void* to, std::uintptr_t from, std::size_t size) {
  if (size == 0) return true;
  int saved_errno = errno;
  bool copied = checker != Checker::Emulator && kernel_copy(process_vm_readv, to, from, size);
  if (checker == Checker::Emulator) {
    copied = readable_in_emulator(from, size);
    if (copied) std::memcpy(to, reinterpret_cast<const void*>(from), size);
  }
  errno = saved_errno;
  return copied;
}

bool copy_to_user(std::uintptr_t to, const void* from, std::size_t size) {
  if (size == 0) return true;
  int saved_errno = errno;
  bool copied = checker != Checker::Emulator && kernel_copy(process_vm_writev, const_cast<void*>(from), to, size);
  if (checker == Checker::Emulator) {
    copied = writable_in_emulator(to, size);
    if (copied) std::memcpy(reinterpret_cast<void*>(to), from, size);
  }
  errno = saved_errno;
  return copied;
}

}  // namespace vpc

// SPDX-License-Identifier: MIT
// The C-library symbols through which a program reaches the operating system, defined ahead of the
// C library. "/dev/ferrox", its descriptors, I/O privilege and the actions for the faults of the
// port trap go to the virtual PC; every other path, descriptor and signal passes through untouched
// to the next definition (the C library's, or that of a layer between). Until the program opens the node or asks for I/O privilege the machine does not
// exist, and a close, ioctl or dup costs one load more than the C library's own.
#include <errno.h>
#include <limits.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>

#include "ferrox/interpose/device_path.h"
#include "ferrox/interpose/next_symbol.h"
#include "ferrox/recording/inherited_pipe.h"
#include "ferrox/vpc/control.h"
#include "ferrox/vpc/kernel/port_trap.h"
#include "ferrox/vpc/machine.h"

namespace {

using ferrox::vpc::Machine;

// A result in the kernel's convention given back in the C library's: errno is set only on failure,
// after the interrupts the call raised were signalled, so a handler that changes errno leaves its
// mark on a call that succeeds, as with a real driver.
int finish(long result) {
  if (ferrox::vpc::is_error_result(result)) {
    errno = static_cast<int>(-result);
    return -1;
  }
  return static_cast<int>(result);
}

// The machine for a call that needs it started, or nullptr (said once on standard error) when the
// machine the environment describes could not be built.
Machine* started_machine() {
  const ferrox::Status& started = Machine::start();
  if (started) return &Machine::instance();
  static std::atomic<bool> said{false};
  if (!said.exchange(true)) {
    std::string line = "virtual PC: not started: " + started.error().Text() + "\n";
    [[maybe_unused]] ssize_t written = write(STDERR_FILENO, line.data(), line.size());
  }
  return nullptr;
}

// A node descriptor kept across exec names a file of the earlier image's machine, which did not
// come along (the driver's stays valid): its requests are refused with EBADF, and said once on
// standard error, rather than answered ENOTTY by the kernel as if it named another file.
int refused_if_kept_across_exec(int fd, int result) {
  if (result != -1 || errno != ENOTTY || !ferrox::vpc::DeviceNode::opened_before_exec(fd)) return result;
  static std::atomic<bool> said{false};
  if (!said.exchange(true)) {
    std::string line = "virtual PC: descriptor " + std::to_string(fd) +
                       " of /dev/ferrox was kept across exec, which the virtual PC's machine does not follow: its "
                       "requests are refused; open the node again in the new image\n";
    [[maybe_unused]] ssize_t written = write(STDERR_FILENO, line.data(), line.size());
  }
  errno = EBADF;
  return -1;
}

int passed_on_ioctl(int fd, unsigned long request, void* argument) {
  return refused_if_kept_across_exec(fd, ferrox::interpose::next::ioctl(fd, request, argument));
}

// The virtual PC's side of each interposed call (interposed_symbols.inc).
struct Route {
  static int open(const char* path, int flags, unsigned mode, int dirfd) {
    if (!ferrox::interpose::is_device_path(path)) return ferrox::interpose::next::openat(dirfd, path, flags, mode);
    Machine* machine = started_machine();
    if (!machine || machine->refuses_this_process()) return finish(-ENODEV);
    std::lock_guard serving(machine->serving());
    return finish(machine->node().open(flags));
  }

  static int close(int fd) {
    Machine* machine = Machine::existing();
    if (!machine || !machine->node().owns(fd)) return ferrox::interpose::next::close(fd);
    std::lock_guard serving(machine->serving());
    ferrox::vpc::IrqController::Hold hold(machine->irqs());
    return finish(machine->node().close(fd));
  }

  static int ioctl(int fd, unsigned long request, void* argument) {
    Machine* machine = Machine::existing();
    if (!machine) return passed_on_ioctl(fd, request, argument);
    if (machine->held_elsewhere() && machine->node().owns(fd) && machine->refuses_this_process()) return finish(-EBADF);
    std::optional<long> result;
    {
      // Interrupts raised while the request is served are signalled once it is done.
      std::lock_guard serving(machine->serving());
      ferrox::vpc::IrqController::Hold hold(machine->irqs());
      result = machine->node().ioctl(fd, request, reinterpret_cast<std::uintptr_t>(argument));
    }
    return result ? finish(*result) : passed_on_ioctl(fd, request, argument);
  }

  static void duplicated(int fd, int target) {
    Machine* machine = Machine::existing();
    if (!machine) return;
    std::lock_guard serving(machine->serving());
    machine->node().duplicated(fd, target);
  }

  static void closed_from(unsigned first, unsigned last) {
    Machine* machine = Machine::existing();
    if (!machine || first > INT_MAX) return;
    std::lock_guard serving(machine->serving());
    machine->node().closed_from(static_cast<int>(first), last > INT_MAX ? INT_MAX : static_cast<int>(last));
  }

  // The pipe for a replay's verdict, which the tool handed down: a program that closes every
  // descriptor it did not open itself still has its divergence told.
  static int kept_descriptor() { return ferrox::recording::inherited_pipe(VPC_REPLAY_REPORT_VARIABLE); }

  // I/O privilege: the virtual PC's kernel decides, and its trap carries out the port instructions.
  // A forked child may lower what it inherited, never raise it.
  static int iopl(int level) {
    Machine* machine = started_machine();
    if (!machine) return finish(-ENODEV);
    if (level > 0 && machine->refuses_this_process()) return finish(-EPERM);
    std::lock_guard serving(machine->serving());
    if (machine->node().replay()) return machine->node().replay()->iopl(level);
    return machine->privilege().iopl(level);
  }

  static int ioperm(unsigned long from, unsigned long count, int turn_on) {
    Machine* machine = started_machine();
    if (!machine) return finish(-ENODEV);
    if (turn_on && machine->refuses_this_process()) return finish(-EPERM);
    std::lock_guard serving(machine->serving());
    if (machine->node().replay()) return machine->node().replay()->ioperm(from, count, turn_on);
    return machine->privilege().ioperm(from, count, turn_on);
  }
};

}  // namespace

#include "ferrox/interpose/interposed_symbols.inc"

// The program's actions for the signals of the port trap go behind it while it is in place (see
// port_trap.h); every other signal's pass through. A sanitizer's runtime calls it while it starts,
// before it could account for the call.
extern "C" INTERPOSED_API __attribute__((no_sanitize_thread)) int sigaction(int signal, const struct sigaction* action, struct sigaction* old) {
  return ferrox::vpc::program_sigaction(signal, action, old);
}

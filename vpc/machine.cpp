// SPDX-License-Identifier: MIT
// The virtual PC: one machine per process, its start and its reset.
#include "ferrox/vpc/machine.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "ferrox/vpc/control.h"
#include "ferrox/vpc/description/machine_file.h"

namespace ferrox::vpc {

namespace {

bool preloaded() {
  const char* preload = std::getenv("LD_PRELOAD");
  return preload && std::strstr(preload, "libferrox-vpc");
}

}  // namespace

ferrox::Result<MachineDescription> Machine::described_by_environment() {
  MachineDescription description = preloaded() ? builtin_machine() : default_machine();
  if (const char* file = std::getenv(MachineFileVariable)) {
    ferrox::Result<MachineDescription> loaded = load_machine_file(file);
    if (!loaded) return loaded.error();
    description = std::move(*loaded);
  }
  if (const char* directory = std::getenv(PciSysfsVariable)) {
    ferrox::Result<std::vector<PciFunctionImage>> host = load_pci_sysfs(directory);
    if (!host) {
      ferrox::Error error = host.error();
      error.Message = std::string(PciSysfsVariable) + ": " + error.Message;
      return error;
    }
    description.pci_functions = std::move(*host);
  }
  return description;
}

namespace {

// The replay the environment asks for, if any.
ferrox::Status start_replay(Replay& replay) {
  const char* file = std::getenv(VPC_REPLAY_VARIABLE);
  if (!file) return ferrox::Done{};
  ferrox::Result<recording::Recording> recording = recording::load_recording(file);
  if (!recording) return recording.error();
  if (ferrox::Status replayable = recording->replayable(); !replayable)
    return ferrox::Error{replayable.error().Message, 0, file};
  ferrox::Result<ReplayOptions> options = replay_options(std::getenv(VPC_REPLAY_LOOSE_VARIABLE));
  if (!options) return options.error();
  replay.start(std::move(*recording), *options, OnDivergence::Exit);
  return ferrox::Done{};
}

std::atomic<Machine*> existing_machine{nullptr};

// The living process other than this one that the environment names as holding the machine, or 0.
pid_t holder_named_by_environment() {
  const char* named = std::getenv(VPC_MACHINE_PROCESS_VARIABLE);
  if (!named || !*named) return 0;
  char* end = nullptr;
  long process = std::strtol(named, &end, 10);
  if (*end || process <= 0 || process == getpid()) return 0;
  int saved_errno = errno;
  bool alive = kill(static_cast<pid_t>(process), 0) == 0 || errno == EPERM;
  errno = saved_errno;
  return alive ? static_cast<pid_t>(process) : 0;
}

}  // namespace

struct Machine::Startup {
  Machine* machine;
  ferrox::Status status;
};

// Never destroyed: the interposed C-library functions may run during process exit.
const Machine::Startup& Machine::started() {
  static const Startup startup = [] {
    pid_t holder = holder_named_by_environment();  // read before this process names itself
    auto* machine = new Machine;
    ferrox::Result<MachineDescription> described = described_by_environment();
    ferrox::Status status = described ? machine->reset(*described) : ferrox::Status(described.error());
    if (status) status = start_replay(machine->replay());
    if (holder) {
      machine->holder_.store(holder, std::memory_order_relaxed);
      machine->exec_descendant_ = true;
    } else {
      announce_holder();
    }
    existing_machine.store(machine, std::memory_order_release);
    pthread_atfork(hold_for_fork, release_after_fork, mark_forked_child);
    return Startup{machine, status};
  }();
  return startup;
}

const ferrox::Status& Machine::start() { return started().status; }

Machine& Machine::instance() { return *started().machine; }

Machine* Machine::existing() { return existing_machine.load(std::memory_order_acquire); }

Machine::Machine() { reset(); }

void Machine::hold_for_fork() { existing()->serving_.lock(); }

void Machine::release_after_fork() { existing()->serving_.unlock(); }

// The lock copied into the child is held by a thread of the parent, which the child has not: it
// starts afresh. The copy's listeners belong to the parent, which the child's raised lines never
// signal: the driver signals a listener's process, and the kernel lets no other process send the
// driver's signals to it.
void Machine::mark_forked_child() {
  Machine* machine = existing();
  new (&machine->serving_) std::recursive_mutex;
  machine->holder_.store(getppid(), std::memory_order_relaxed);
  machine->exec_descendant_ = false;
  machine->irqs_.signal_only(getpid());
}

void Machine::announce_holder() { setenv(VPC_MACHINE_PROCESS_VARIABLE, std::to_string(getpid()).c_str(), 1); }

bool Machine::refuses_this_process() {
  pid_t holder = holder_.load(std::memory_order_relaxed);
  if (holder == 0) return false;
  static std::atomic<pid_t> said_in{0};
  pid_t self = getpid();
  if (said_in.exchange(self) != self) {
    std::string how = exec_descendant_
                          ? " was exec'd in a descendant of process " + std::to_string(holder) +
                                ", which holds the machine and does not share it"
                          : " was forked from process " + std::to_string(holder) +
                                ", whose machine it holds a copy of and does not share";
    std::string line = "virtual PC: process " + std::to_string(self) + how +
                       ": its opens of /dev/ferrox, requests, I/O privilege and port instructions are refused; "
                       "use the device from one process";
    if (exec_descendant_) line += std::string(" (a program started without ") + VPC_MACHINE_PROCESS_VARIABLE +
                                  " in its environment runs on a machine of its own)";
    line += "\n";
    [[maybe_unused]] ssize_t written = write(STDERR_FILENO, line.data(), line.size());
  }
  return true;
}

ferrox::Status Machine::reset(const MachineDescription& description) {
  // A process the machine is not the own of that resets it (the control API's deliberate act)
  // makes it its own, and the machine of the images its descendants exec.
  if (holder_.exchange(0, std::memory_order_relaxed) != 0) announce_holder();
  description_ = description;
  log_.clear();
  faults_.clear();
  replay_.stop();
  privilege_.reset(description.privilege);
  ports_.detach_all();
  ferrox::Status status = parallel_ports_.reset(description.parallel_ports, ports_, irqs_);
  fifo_.reset();
  if (description.fifo_port) ports_.attach(*description.fifo_port, FifoDevice::PortCount, fifo_);
  irqs_.reset();
  timer_.fit(description.timer);
  pci_.reset(description_.pci_functions);
  pci_config_ports_.reset();
  ports_.attach(pci_config::AddressPort, pci_config::PortsLength, pci_config_ports_);
  memory_.reset(description_.memory, description_.bios);
  attach_ata_disk();
  return status;
}

void Machine::attach_ata_disk() {
  // 8 MiB: the sector count only shows in the drive's identity.
  constexpr std::uint32_t DiskSectors = 16384;
  ata_disk_.reset();
  if (!description_.ata_disk_model) return;
  ata_disk_ = std::make_unique<AtaDisk>(*description_.ata_disk_model, DiskSectors,
                                        [this] { irqs_.raise(ata::PrimaryIrq); });
  ports_.attach(ata::CommandBlock, AtaDisk::CommandPortCount, *ata_disk_);
  ports_.attach(ata::ControlBlock, AtaDisk::ControlPortCount, ata_disk_->control_block());
}

}  // namespace ferrox::vpc

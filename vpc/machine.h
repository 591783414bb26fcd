// SPDX-License-Identifier: MIT
// The virtual PC's control API: describe the machine, reset it, inject faults and read the log.
// Tests, the ferrox tool and examples use it; the library itself never does.
//
//   vpc::Machine& pc = vpc::Machine::instance();
//   pc.reset();                                  // the default machine, empty log, no faults
//   pc.log().record(4096);                       // keep the newest 4096 entries of the log
//   pc.faults().refuse_open(ENOENT);             // no driver
//   pc.log().request_numbers();                  // what crossed to the driver
//   pc.irqs().raise(7);                          // an interrupt on IRQ line 7
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "ferrox/common/Result.h"
#include "ferrox/vpc/Export.h"
#include "ferrox/vpc/description/machine_description.h"
#include "ferrox/vpc/kernel/device_node.h"
#include "ferrox/vpc/kernel/driver_requests.h"
#include "ferrox/vpc/kernel/faults.h"
#include "ferrox/vpc/kernel/privilege.h"
#include "ferrox/vpc/kernel/replay.h"
#include "ferrox/vpc/kernel/request_log.h"
#include "ferrox/vpc/parallel/parallel_ports.h"
#include "ferrox/vpc/pci/pci_bus.h"
#include "ferrox/vpc/pci/pci_config_ports.h"
#include "ferrox/vpc/platform/ata_disk.h"
#include "ferrox/vpc/platform/fifo_device.h"
#include "ferrox/vpc/platform/irq_controller.h"
#include "ferrox/vpc/platform/physical_memory.h"
#include "ferrox/vpc/platform/port_bus.h"
#include "ferrox/vpc/platform/timer.h"

namespace ferrox::vpc {

class VPC_API Machine {
 public:
  // Starts the one machine of the process, at the first call; later calls answer the same. The
  // machine is the built-in one in a program that preloads the virtual PC and the default one in a
  // program that links it, or what the environment names (MachineFileVariable, PciSysfsVariable);
  // it answers from a recording when the environment names one (VPC_REPLAY_VARIABLE, control.h).
  // A machine file or PCI directory that cannot be read is an error naming it, and then the device
  // node and I/O privilege are refused: a program asked to run on a described machine never runs
  // on another.
  //
  // Nothing calls this before the program opens "/dev/ferrox", asks for I/O privilege or uses the
  // control API, so a program that does none of those finds nothing of the machine running.
  static const ferrox::Status& start();
  // The machine, started if it was not (when the start failed: the default machine, for the
  // control API; the program's own calls are still refused).
  static Machine& instance();
  // The machine once it exists, or nullptr; lock-free, for the calls of the program that need not
  // start it (a close or ioctl on a descriptor the machine never handed out).
  static Machine* existing();
  // The machine the environment describes, which start() builds: the built-in or default one,
  // with a machine file's and a PCI directory's changes; an error naming the one at fault.
  static ferrox::Result<MachineDescription> described_by_environment();

  // Rebuilds the machine from a description, clears the log and every injected fault, ends a replay; the log
  // goes on recording, or not, as before. Open files of the device node stay open. In a forked
  // child the machine is the child's own from then on. An error when
  // part of the description cannot be built (a printer's output file that cannot be opened); the
  // rest of the machine is built all the same.
  ferrox::Status reset(const MachineDescription& description = default_machine());

  const MachineDescription& description() const { return description_; }
  RequestLog& log() { return log_; }
  Faults& faults() { return faults_; }
  DeviceNode& node() { return node_; }
  PortBus& ports() { return ports_; }
  IrqController& irqs() { return irqs_; }
  PciBus& pci() { return pci_; }
  PhysicalMemory& memory() { return memory_; }
  const DriverMemory& windows() const { return windows_; }
  Privilege& privilege() { return privilege_; }
  Replay& replay() { return replay_; }
  FifoDevice& fifo() { return fifo_; }
  ParallelPorts& parallel_ports() { return parallel_ports_; }
  AtaDisk* ata_disk() { return ata_disk_.get(); }
  // Held while the machine serves one of the program's calls or port instructions: they come from
  // any thread, as to a driver, and are served one at a time. Recursive, so that a signal handler
  // that makes a request on a thread the signal took in the middle of one nests in it.
  std::recursive_mutex& serving() { return serving_; }

  // True where the machine is not this process's: in a child forked from the process that started
  // it, which holds a copy of the machine, not the machine its parent's devices are on, and in an
  // image exec'd in a descendant of that process while it lives (VPC_MACHINE_PROCESS_VARIABLE).
  // The program's ways into it are refused there (refuses_this_process). Lock-free.
  bool held_elsewhere() const { return holder_.load(std::memory_order_relaxed) != 0; }
  // Whether the machine is held elsewhere; if so, says once on standard error that this process's
  // opens of the node, requests, raising of I/O privilege and port instructions are refused.
  bool refuses_this_process();

  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

 private:
  struct Startup;
  static const Startup& started();
  Machine();
  void attach_ata_disk();
  // pthread_atfork's handlers: the machine is copied whole, while no thread is serving, and the
  // child's copy marked as such.
  static void hold_for_fork();
  static void release_after_fork();
  static void mark_forked_child();
  // Names this process in the environment as the one that holds the machine.
  static void announce_holder();

  MachineDescription description_;
  RequestLog log_;
  Faults faults_;
  DeviceNode node_{log_, faults_};
  PortBus ports_;
  IrqController irqs_;
  IntervalTimer timer_{irqs_};
  PciBus pci_;
  PciConfigPorts pci_config_ports_{pci_};
  PhysicalMemory memory_;
  DriverPorts driver_ports_{node_, ports_};
  DriverPci driver_pci_{node_, pci_};
  DriverIrq driver_irq_{node_, irqs_};
  DriverMemory windows_{node_, memory_, faults_};
  Privilege privilege_{log_};
  Replay replay_{node_, irqs_, privilege_};
  FifoDevice fifo_;
  ParallelPorts parallel_ports_;
  std::unique_ptr<AtaDisk> ata_disk_;
  std::recursive_mutex serving_;
  // The process that holds the machine, where it is not this one (0 when it is).
  std::atomic<pid_t> holder_{0};
  bool exec_descendant_ = false;  // an exec'd image's machine, not a forked copy
};

}  // namespace ferrox::vpc

// The virtual PC's control API: describe the machine, reset it, inject faults and read the log.
// Tests, the ferrox tool and examples use it; the library itself never does.
//
//   vpc::Machine& pc = vpc::Machine::instance();
//   pc.reset();                                  // the default machine, empty log, no faults
//   pc.faults().refuse_open(ENOENT);             // no driver
//   pc.log().request_numbers();                  // what crossed to the driver
//   pc.irqs().raise(7);                          // an interrupt on IRQ line 7
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "ferrox/vpc/Export.h"
#include "ferrox/vpc/platform/ata_disk.h"
#include "ferrox/vpc/kernel/device_node.h"
#include "ferrox/vpc/kernel/driver_memory.h"
#include "ferrox/vpc/kernel/faults.h"
#include "ferrox/vpc/platform/fifo_device.h"
#include "ferrox/vpc/platform/irq_controller.h"
#include "ferrox/vpc/parallel/parallel_ports.h"
#include "ferrox/vpc/pci/pci_bus.h"
#include "ferrox/vpc/pci/pci_chipset.h"
#include "ferrox/vpc/pci/pci_config_ports.h"
#include "ferrox/vpc/platform/physical_memory.h"
#include "ferrox/vpc/platform/port_bus.h"
#include "ferrox/vpc/kernel/privilege.h"
#include "ferrox/vpc/kernel/request_log.h"
#include "ferrox/vpc/platform/timer.h"

namespace vpc {

// Everything that makes one machine differ from another.
struct MachineDescription {
  bool timer = false;  // the interval timer ticking on line 0 (off unless asked for)
  std::vector<PciFunctionImage> pci_functions = default_pci_chipset();
  MemoryMap memory = default_memory_map();
  BiosDataArea bios = default_bios_data_area();
  PrivilegeDescription privilege;  // default: iopl and ioperm granted
  // Data port of the FIFO device. The default machine has it at 0x300, the start of the range
  // the PC leaves free for prototype cards.
  std::optional<std::uint16_t> fifo_port = 0x300;
  // The parallel ports and what is plugged into each (the BIOS data area lists them separately).
  std::vector<ParallelPortDescription> parallel_ports = default_parallel_ports();
  // The model name of the fixed disk on the primary ATA channel (master); none when empty.
  std::optional<std::string> ata_disk_model = "FERROX VIRTUAL DISK";
};

VPC_API MachineDescription default_machine();
// The machine a program started on the virtual PC (preloaded, as the ferrox tool is) begins
// with: the default machine with its interval timer running. Test programs link the virtual PC
// and begin with the default machine.
VPC_API MachineDescription builtin_machine();

class VPC_API Machine {
 public:
  // The one machine of the process, built on first use.
  static Machine& instance();

  // Rebuilds the machine from a description, clears the log and every injected fault. Open
  // descriptors of the device node stay open.
  void reset(const MachineDescription& description = default_machine());

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
  FifoDevice& fifo() { return fifo_; }
  ParallelPorts& parallel_ports() { return parallel_ports_; }
  AtaDisk* ata_disk() { return ata_disk_.get(); }

  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

 private:
  Machine();
  void attach_ata_disk();

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
  DriverMemory windows_{node_, memory_, faults_};
  Privilege privilege_{log_};
  FifoDevice fifo_;
  ParallelPorts parallel_ports_;
  std::unique_ptr<AtaDisk> ata_disk_;
};

}  // namespace vpc

// The virtual PC: one machine per process, its description and its reset.
#include "ferrox/vpc/machine.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ferrox/vpc/kernel/driver_irq.h"
#include "ferrox/vpc/kernel/driver_pci.h"
#include "ferrox/vpc/kernel/driver_ports.h"
#include "ferrox/vpc/description/machine_file.h"
#include "ferrox/vpc/pci/pci_sysfs.h"

namespace vpc {

MachineDescription default_machine() { return MachineDescription{}; }

MachineDescription builtin_machine() {
  MachineDescription description = default_machine();
  description.timer = true;
  return description;
}

namespace {

bool preloaded() {
  const char* preload = std::getenv("LD_PRELOAD");
  return preload && std::strstr(preload, "libferrox-vpc");
}

// The machine of the file named by the environment, when it is set. A program asked to run on a
// described machine must not run on another, so a faulty file ends it.
std::optional<MachineDescription> machine_from_environment() {
  const char* file = std::getenv(MachineFileVariable);
  if (!file) return {};
  MachineFileResult loaded = load_machine_file(file);
  if (auto* error = std::get_if<std::string>(&loaded)) {
    std::fprintf(stderr, "virtual PC: %s\n", error->c_str());
    _exit(EXIT_FAILURE);
  }
  return std::get<MachineDescription>(std::move(loaded));
}

}  // namespace

Machine& Machine::instance() {
  // Never destroyed: the interposed C-library functions may run during process exit.
  static Machine* machine = new Machine;
  return *machine;
}

Machine::Machine() {
  serve_port_requests(node_, ports_);
  serve_irq_requests(node_, irqs_);
  serve_pci_requests(node_, pci_);
  MachineDescription first = preloaded() ? builtin_machine() : default_machine();
  if (auto described = machine_from_environment()) first = std::move(*described);
  if (auto host_pci = pci_functions_from_environment()) first.pci_functions = std::move(*host_pci);
  reset(first);
}

void Machine::reset(const MachineDescription& description) {
  description_ = description;
  log_.clear();
  faults_.clear();
  privilege_.reset(description.privilege);
  ports_.detach_all();
  parallel_ports_.reset(description.parallel_ports, ports_, irqs_);
  fifo_.reset();
  if (description.fifo_port) ports_.attach(*description.fifo_port, FifoDevice::PortCount, fifo_);
  timer_.stop();
  irqs_.reset();
  if (description.timer) timer_.start();
  pci_.reset(description_.pci_functions);
  pci_config_ports_.reset();
  ports_.attach(PciConfigPortsBase, PciConfigPortsLength, pci_config_ports_);
  memory_.reset(description_.memory, description_.bios);
  attach_ata_disk();
}

void Machine::attach_ata_disk() {
  // 8 MiB: the sector count only shows in the drive's identity.
  constexpr std::uint32_t DiskSectors = 16384;
  ata_disk_.reset();
  if (!description_.ata_disk_model) return;
  ata_disk_ = std::make_unique<AtaDisk>(*description_.ata_disk_model, DiskSectors,
                                        [this] { irqs_.raise(AtaPrimaryIrq); });
  ports_.attach(AtaCommandBlock, AtaDisk::CommandPortCount, *ata_disk_);
  ports_.attach(AtaControlBlock, AtaDisk::ControlPortCount, ata_disk_->control_block());
}

}  // namespace vpc

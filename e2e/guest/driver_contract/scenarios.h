// The scenarios of the driver-contract program, one group of related checks each.
#pragma once

#include "driver.h"
#include "port_path.h"

namespace e2e {

void opening_needs_raw_io_capability();
void parallel_ports_listed_by_firmware(const Driver& driver);
void parallel_port_registers(PortPath& path);
void paths_reach_the_same_port(PortPath& writer, PortPath& reader);
void printing(PortPath& path, std::uint16_t base, const char* port_name);
void interrupts_reach_the_process(const Driver& driver, PortPath& path);
void lines_churn_under_interrupts(PortPath& printer_path);
void descriptor_release_frees_lines();
void lines_the_driver_cannot_take(const Driver& driver);
void ata_identify(PortPath& path);
void pci_configuration(const Driver& driver);
void physical_memory_windows(const Driver& driver);
void bad_requests(const Driver& driver);
void bad_windows(const Driver& driver);
void bad_pci_requests(const Driver& driver);
void bad_interrupt_requests(const Driver& driver);
void still_healthy(const Driver& driver);

}  // namespace e2e

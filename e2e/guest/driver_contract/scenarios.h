// SPDX-License-Identifier: MIT
// The scenarios only the emulated PC can run: real devices compared with the kernel's own view of
// them (/dev/mem, sysfs, /proc/interrupts), the processor's port instructions, capabilities,
// threads, and other processes raising interrupts. The driver's contract as such is in
// tests/contract, shared with the ordinary suite.
#pragma once

#include <cstdint>

#include "tests/contract/driver.h"
#include "tests/contract/port_path.h"

namespace e2e {

using contract::Driver;
using contract::PortPath;

void opening_needs_raw_io_capability();

void parallel_ports_listed_by_firmware(const Driver& driver);
void parallel_port_registers(PortPath& path);
void paths_reach_the_same_port(PortPath& writer, PortPath& reader);
void printing(PortPath& path, std::uint16_t base, const char* port_name);

// The line shows in /proc/interrupts while a process listens, and a dying process gives it back.
void descriptor_release_frees_lines();
void lines_churn_under_interrupts(PortPath& printer_path);
void lines_the_driver_cannot_take(const Driver& driver);
void interrupts_reach_a_thread_that_takes_them();
void interrupts_outlive_the_main_thread();
void interrupts_reach_a_sigwaitinfo_worker();
void interrupts_after_the_receiving_thread_exits();
void interrupts_a_process_cannot_take();

void ata_identify(PortPath& path);
void pci_configuration(const Driver& driver);

void physical_memory_windows(const Driver& driver);
void memory_kernel_drivers_hold(const Driver& driver);
void records_that_fault(const Driver& driver);
// Windows, PCI registers and ports that the kernel or its drivers hold.
void kernel_held_resources(const Driver& driver);

}  // namespace e2e

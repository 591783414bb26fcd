// SPDX-License-Identifier: MIT
// The guest program of the peer benchmarks: the library beside /dev/port, ppdev, sysfs,
// /proc/bus/pci and /dev/mem on the same emulated hardware, in one run. Briefly in the ordinary
// end-to-end run; at length when the kernel's command line says ferrox_peers=full (make
// bench-peers). The figures go to the console for bench/peers_report.py; the checks that every
// method saw the same data count as the other guest programs' do.
#include "peers/peers.h"

#include <cstdio>

#include "common/check.h"
#include "peers/parport_stack.h"
#include "tests/support/component.h"

int main() {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  peers::Budget budget = peers::budget_from_environment();
  Component component = make_component();
  component->OpenDriver();
  if (!CHECK(component->DriverActive())) return e2e::finish("peers");

  e2e::scenario("peers: PCI configuration");
  peers::pci_reads(*component, budget);
  e2e::scenario("peers: the VGA memory window");
  peers::vga_window_reads(*component, budget);
  e2e::scenario("peers: the parallel port's status");
  {
    peers::ParportStack stack;
    if (CHECK(stack.loaded())) peers::status_reads(*component, budget);
  }
  e2e::scenario("peers: interrupt latency");
  peers::interrupt_latency(*component, budget);
  component->CloseDriver();
  return e2e::finish("peers");
}

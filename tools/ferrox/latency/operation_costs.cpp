// SPDX-License-Identifier: MIT
// Timing single calls: each between two readings of the monotonic clock, after a few that warm
// the caches (and, on the virtual PC, map the window) and are not counted.
#include "tools/ferrox/latency/operation_costs.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>

namespace ferrox_tool {

namespace {

constexpr int WarmUpCalls = 16;
constexpr ferrox::Word PostCodePort = 0x80;
constexpr std::uint32_t BiosRom = 0xF0000;
constexpr std::uint32_t WindowBytes = 4096;

// The least time between two readings of the clock: what each timed call is charged beyond itself.
double clock_cost() {
  std::int64_t least = INT64_MAX;
  for (int reading = 0; reading < 1000; ++reading) {
    std::int64_t start = monotonic_ns();
    least = std::min(least, monotonic_ns() - start);
  }
  return static_cast<double>(least);
}

template <class Call>
OperationCost time_calls(const char* key, std::string name, std::size_t calls, Call&& call) {
  double charged = clock_cost();
  std::vector<double> samples;
  samples.reserve(calls);
  for (std::size_t made = 0; made < calls + WarmUpCalls; ++made) {
    std::int64_t start = monotonic_ns();
    call();
    double taken = static_cast<double>(monotonic_ns() - start) - charged;
    if (made >= WarmUpCalls) samples.push_back(std::max(taken, 0.0));
  }
  return {key, std::move(name), calls, summarize(std::move(samples)), {}};
}

OperationCost not_measured(const char* key, std::string name, std::string reason) {
  return {key, std::move(name), 0, {}, std::move(reason)};
}

OperationCost direct_port_read(ferrox::TFerrox32& component, ferrox::Word port, std::size_t calls) {
  std::string name = fmt::format("port read {:#x}, direct", port);
  if (!component.fSetIoPermission(port))
    return not_measured("port_read_direct", name, fmt::format("the kernel refused access to port {:#x}", port));
  component.fSetHardAccess(false);
  OperationCost cost = time_calls("port_read_direct", name, calls, [&] { component.fGetPortB(port); });
  component.fSetHardAccess(true);
  return cost;
}

OperationCost window_read(ferrox::TFerrox32& component, std::size_t calls) {
  std::string name = fmt::format("4 KiB window read at {:#x}", BiosRom);
  std::array<ferrox::Byte, WindowBytes> buffer{};
  component.ReadPhysicalMemory(BiosRom, 0, WindowBytes, buffer.data());
  if (!component.Mapped())
    return not_measured("window_read", name, fmt::format("the driver did not map {:#x}", BiosRom));
  OperationCost cost =
      time_calls("window_read", name, calls, [&] { component.ReadPhysicalMemory(BiosRom, 0, WindowBytes, buffer.data()); });
  component.fUnmapMemory();
  return cost;
}

}  // namespace

std::vector<OperationCost> measure_operations(ferrox::TFerrox32& component, std::size_t calls) {
  ferrox::Word port = component.LPTCount() > 0 ? static_cast<ferrox::Word>(component.LPTBase() + 1) : PostCodePort;
  std::vector<OperationCost> costs;
  costs.push_back(time_calls("port_read_driver", fmt::format("port read {:#x}, driver", port), calls,
                             [&] { component.fGetPortB(port); }));
  costs.push_back(direct_port_read(component, port, calls));
  costs.push_back(window_read(component, calls));
  costs.push_back(time_calls("pci_read", "PCI configuration read 00:00.0", calls,
                             [&] { component.PciGetDword(0, 0, 0, 0); }));
  return costs;
}

}  // namespace ferrox_tool

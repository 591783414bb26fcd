// SPDX-License-Identifier: MIT
// The control entries in C (control.h).
#include "ferrox/vpc/control.h"

#include <algorithm>
#include <cstring>

#include "ferrox/vpc/Export.h"
#include "ferrox/vpc/kernel/port_trap.h"
#include "ferrox/vpc/kernel/signal_delivery.h"
#include "ferrox/vpc/machine.h"

extern "C" {

VPC_API int vpc_start(char* message, size_t size) {
  const ferrox::Status& started = ferrox::vpc::Machine::start();
  if (started) return 0;
  if (size > 0) {
    std::string text = started.error().Text();
    std::size_t length = std::min(text.size(), size - 1);
    std::memcpy(message, text.data(), length);
    message[length] = '\0';
  }
  return -1;
}

VPC_API void vpc_raise_irq(unsigned line) { ferrox::vpc::Machine::instance().irqs().raise(line); }

VPC_API size_t vpc_printer_output(unsigned base, char* buffer, size_t size) {
  ferrox::vpc::Printer* printer = ferrox::vpc::Machine::instance().parallel_ports().printer(static_cast<std::uint16_t>(base));
  if (!printer) return 0;
  const std::vector<std::uint8_t>& received = printer->received();
  std::copy_n(received.begin(), std::min(size, received.size()), buffer);
  return received.size();
}

VPC_API void vpc_watch_port_instructions(vpc_port_watcher watch) { ferrox::vpc::watch_port_instructions(watch); }
VPC_API void vpc_watch_signals(vpc_signal_watcher watch) { ferrox::vpc::watch_delivered_signals(watch); }

}  // extern "C"

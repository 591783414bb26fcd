// SPDX-License-Identifier: MIT
// The control entries in C (control.h).
#include "ferrox/vpc/control.h"

#include <algorithm>
#include <cstring>

#include "ferrox/vpc/Export.h"
#include "ferrox/vpc/description/machine_file.h"
#include "ferrox/vpc/kernel/port_trap.h"
#include "ferrox/vpc/kernel/signal_delivery.h"
#include "ferrox/vpc/machine.h"

namespace {

using ferrox::vpc::Event;
using ferrox::vpc::Machine;

// 0, or -1 with the error's text in message (at most size bytes, NUL included).
int report(const ferrox::Status& status, char* message, size_t size) {
  if (status) return 0;
  if (size > 0) {
    std::string text = status.error().Text();
    std::size_t length = std::min(text.size(), size - 1);
    std::memcpy(message, text.data(), length);
    message[length] = '\0';
  }
  return -1;
}

ferrox::Result<ferrox::vpc::MachineDescription> described(const char* text, const char* file) {
  if (!text) return Machine::described_by_environment();
  return ferrox::vpc::parse_machine_file(text, file ? file : "machine");
}

static_assert(VPC_LOG_OPEN == static_cast<int>(Event::Open) && VPC_LOG_CLOSE == static_cast<int>(Event::Close) &&
              VPC_LOG_REQUEST == static_cast<int>(Event::Request) && VPC_LOG_IOPL == static_cast<int>(Event::Iopl) &&
              VPC_LOG_IOPERM == static_cast<int>(Event::Ioperm) && VPC_LOG_PORT_IN == static_cast<int>(Event::PortIn) &&
              VPC_LOG_PORT_OUT == static_cast<int>(Event::PortOut));
static_assert(VPC_LOG_RECORD_BYTES == ferrox::vpc::RecordCopy::Capacity);

vpc_log_entry in_c(const ferrox::vpc::LogEntry& entry) {
  vpc_log_entry c{};
  c.event = static_cast<int>(entry.event);
  c.fd = entry.fd;
  c.code = entry.code;
  c.port = entry.port;
  c.width = entry.width;
  c.count = entry.count;
  c.value = entry.value;
  c.result = entry.result;
  c.error = entry.error;
  c.sent_size = static_cast<unsigned>(entry.sent.size());
  c.returned_size = static_cast<unsigned>(entry.returned.size());
  std::memcpy(c.sent, entry.sent.data(), entry.sent.size());
  std::memcpy(c.returned, entry.returned.data(), entry.returned.size());
  return c;
}

ferrox::vpc::Times times(int once) { return once ? ferrox::vpc::Times::Once : ferrox::vpc::Times::Always; }

}  // namespace

extern "C" {

VPC_API int vpc_start(char* message, size_t size) { return report(Machine::start(), message, size); }

VPC_API int vpc_reset(const char* machine_text, const char* machine_file, char* message, size_t size) {
  ferrox::Result<ferrox::vpc::MachineDescription> description = described(machine_text, machine_file);
  if (!description) {
    Machine::instance().reset();
    return report(description.error(), message, size);
  }
  return report(Machine::instance().reset(*description), message, size);
}

VPC_API void vpc_log_record(size_t capacity) { Machine::instance().log().record(capacity); }

VPC_API size_t vpc_log_entries(vpc_log_entry* entries, size_t size) {
  std::vector<ferrox::vpc::LogEntry> kept = Machine::instance().log().entries();
  for (std::size_t i = 0; i < std::min(size, kept.size()); ++i) entries[i] = in_c(kept[i]);
  return kept.size();
}

VPC_API unsigned long long vpc_log_dropped() { return Machine::instance().log().dropped(); }

VPC_API void vpc_refuse_open(int error) { Machine::instance().faults().refuse_open(error); }

VPC_API void vpc_fail_request(unsigned number, int error, int once) {
  Machine::instance().faults().fail_request(number, error, times(once));
}

VPC_API void vpc_refuse_map(int once) { Machine::instance().faults().refuse_map(times(once)); }

VPC_API void vpc_raise_irq(unsigned line) { Machine::instance().irqs().raise(line); }

VPC_API size_t vpc_printer_output(unsigned base, char* buffer, size_t size) {
  ferrox::vpc::Printer* printer = Machine::instance().parallel_ports().printer(static_cast<std::uint16_t>(base));
  if (!printer) return 0;
  const std::vector<std::uint8_t>& received = printer->received();
  std::copy_n(received.begin(), std::min(size, received.size()), buffer);
  return received.size();
}

VPC_API void vpc_watch_port_instructions(vpc_port_watcher watch) { ferrox::vpc::watch_port_instructions(watch); }
VPC_API void vpc_watch_signals(vpc_signal_watcher watch) { ferrox::vpc::watch_delivered_signals(watch); }
VPC_API int vpc_probing_signals(void) { return ferrox::vpc::probing_signals() ? 1 : 0; }

}  // extern "C"

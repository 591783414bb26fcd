// C entry points of the control API, for programs that find the virtual PC preloaded rather
// than linked (the ferrox tool looks them up with dlsym, so it still runs on a real driver).
#include <algorithm>

#include "ferrox/vpc/Export.h"
#include "ferrox/vpc/machine.h"

extern "C" {

// One interrupt on an IRQ line of the virtual PC.
VPC_API void vpc_raise_irq(unsigned line) { vpc::Machine::instance().irqs().raise(line); }

// The bytes the printer on the parallel port at `base` has received: up to `size` of them are
// copied to `buffer`; the result is how many there are (0 without a printer).
VPC_API std::size_t vpc_printer_output(unsigned base, char* buffer, std::size_t size) {
  vpc::Printer* printer = vpc::Machine::instance().parallel_ports().printer(static_cast<std::uint16_t>(base));
  if (!printer) return 0;
  const std::vector<std::uint8_t>& received = printer->received();
  std::copy_n(received.begin(), std::min(size, received.size()), buffer);
  return received.size();
}

}  // extern "C"

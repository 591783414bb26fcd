// C entry points of the control API, for programs that find the virtual PC preloaded rather
// than linked (the ferrox tool looks them up with dlsym, so it still runs on a real driver).
#include "sim/Export.h"
#include "sim/machine.h"

extern "C" {

// One interrupt on an IRQ line of the virtual PC.
VPC_API void vpc_raise_irq(unsigned line) { vpc::Machine::instance().irqs().raise(line); }

}  // extern "C"

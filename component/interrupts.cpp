// TFerrox32 hardware interrupts: per-line masks and counters.
#include "component/Ferrox32.h"

namespace ferrox {

namespace {

bool IsIrqLine(Byte Line) { return Line < IrqLineCount; }

}  // namespace

// Lines above 15 have no entry: they count as masked and never handled.
std::uint32_t TFerrox32::GetHandledCounter(Byte Line) const {
  return IsIrqLine(Line) ? FHandledCounter[Line].load(std::memory_order_relaxed) : 0;
}

bool TFerrox32::fGetMasked(Byte Line) const { return IsIrqLine(Line) ? FMasked[Line] : true; }

}  // namespace ferrox

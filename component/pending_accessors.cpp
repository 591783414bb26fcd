// Stand-ins for two accessors that are being written elsewhere.
#include <sys/io.h>

#include "component/Ferrox32.h"

namespace ferrox {

void TFerrox32::fSetHardAccess(bool Value) { FHardAccess = iopl(3) == 0 ? Value : true; }

// Selecting a port needs the discovered ports; while the driver is closed every value is ignored.
void TFerrox32::fSetLPTNumber(Byte) {}

}  // namespace ferrox

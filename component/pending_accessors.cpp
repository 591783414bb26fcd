// Stand-in for the parallel-port selection, which is being written elsewhere: while the driver is
// closed every value is ignored.
#include "component/Ferrox32.h"

namespace ferrox {

void TFerrox32::fSetLPTNumber(Byte) {}

}  // namespace ferrox

// SPDX-License-Identifier: MIT
// The parallel-port pin tables: where each of the 17 signal pins lives in the port's registers.
#include "ferrox/hwtypes/HW_Types.h"

#include "ferrox/hwtypes/PcHardware.h"

namespace ferrox {

//                                    -  1  2  3  4  5  6  7  8  9 10 11 12 13 14 15 16 17
const Byte PinsPort[LptPinCount + 1] = {0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 1, 2, 2};

const Byte MaskPins[LptPinCount + 1] = {
    0x00,
    lpt::Strobe,                                     // 1
    0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80,  // 2..9 data bits 0..7
    lpt::Acknowledge,                                // 10
    lpt::NotBusy,                                    // 11 busy
    lpt::PaperEnd,                                   // 12
    lpt::Select,                                     // 13
    lpt::AutoFeed,                                   // 14
    lpt::Error,                                      // 15
    lpt::Init,                                       // 16
    lpt::SelectIn,                                   // 17
};

// Strobe, busy, auto feed and select-in are inverted by the port hardware.
const Byte Negative[LptPinCount + 1] = {0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0, 0, 1};

}  // namespace ferrox

// SPDX-License-Identifier: MIT
// The size of each request's record, from the driver contract.
#include "ferrox/vpc/kernel/driver_requests.h"

#include <algorithm>
#include <cstddef>

#include "ferrox/hwtypes/DriverContract.h"
#include "ferrox/vpc/kernel/user_memory.h"

namespace vpc {

std::size_t request_record_size(std::uint32_t code, std::uintptr_t argument) {
  using namespace ferrox::Request;
  switch (code) {
    case Map:
      return ferrox::MemRecHeadSize;
    case Unmap:
      return sizeof(std::uint32_t);
    case PortInB:
    case PortOutB:
    case PortInW:
    case PortOutW:
    case PortInL:
    case PortOutL:
      return sizeof(ferrox::TPortRecord);
    case ReadWindow:
    case WriteWindow: {
      // The head and the bytes of Data that the transfer concerns.
      std::uint32_t count = 0;
      copy_from_user(&count, argument + offsetof(ferrox::TMemRec, Count), sizeof count);
      return ferrox::MemRecHeadSize + std::min(count, ferrox::MemRecDataSize);
    }
    case PciRead:
    case PciWrite:
      return sizeof(ferrox::TPciRequest);
    case IrqUnmask:
    case IrqMask:
      return sizeof(ferrox::TIrqRequest);
    default:
      return 0;
  }
}

}  // namespace vpc

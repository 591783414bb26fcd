// SPDX-License-Identifier: MIT
// The size of each request's record, from the driver contract.
#include "ferrox/vpc/kernel/driver_requests.h"

#include <cstddef>

#include "ferrox/hwtypes/DriverContract.h"
#include "ferrox/vpc/kernel/user_memory.h"

namespace ferrox::vpc {

std::size_t request_record_size(std::uint32_t code, std::uintptr_t argument) {
  std::uint32_t count = 0;
  if (code == ferrox::Request::ReadWindow || code == ferrox::Request::WriteWindow)
    copy_from_user(&count, argument + offsetof(ferrox::TMemRec, Count), sizeof count);
  return ferrox::RecordSize(code, count);
}

}  // namespace ferrox::vpc

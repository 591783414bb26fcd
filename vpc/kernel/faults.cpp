// SPDX-License-Identifier: MIT
// Fault injection.
#include "ferrox/vpc/kernel/faults.h"

namespace ferrox::vpc {

void Faults::fail_request(std::uint32_t number, int error, Times times) {
  request_failures_[number] = Failure{error, times};
}

std::optional<int> Faults::take_request_failure(std::uint32_t number) {
  auto found = request_failures_.find(number);
  if (found == request_failures_.end()) return std::nullopt;
  int error = found->second.error;
  if (found->second.times == Times::Once) request_failures_.erase(found);
  return error;
}

bool Faults::take_map_refusal() {
  if (!map_refusal_) return false;
  if (*map_refusal_ == Times::Once) map_refusal_.reset();
  return true;
}

}  // namespace ferrox::vpc

// SPDX-License-Identifier: MIT
// Fault injection: the device node refuses to open, or a request number fails.
#pragma once

#include <cstdint>
#include <map>
#include <optional>

#include "ferrox/vpc/Export.h"

namespace ferrox::vpc {

enum class Times { Once, Always };

class VPC_API Faults {
 public:
  // open of the device node fails with this errno (ENOENT: no driver; EACCES: not allowed); 0 opens.
  void refuse_open(int error) { open_error_ = error; }
  int open_error() const { return open_error_; }

  // Requests with this number fail with errno, once or until cleared.
  void fail_request(std::uint32_t number, int error, Times times = Times::Always);
  bool fails_requests() const { return !request_failures_.empty(); }
  // The errno the next request of this number fails with, consuming a one-shot failure.
  std::optional<int> take_request_failure(std::uint32_t number);

  // The driver answers map requests with linear address 0, as when it cannot map the range.
  void refuse_map(Times times = Times::Always) { map_refusal_ = times; }
  // Whether to refuse this map request, consuming a one-shot refusal.
  bool take_map_refusal();

  void clear() { *this = Faults{}; }

 private:
  struct Failure {
    int error;
    Times times;
  };
  int open_error_ = 0;
  std::map<std::uint32_t, Failure> request_failures_;
  std::optional<Times> map_refusal_;
};

}  // namespace ferrox::vpc

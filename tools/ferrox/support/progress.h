// SPDX-License-Identifier: MIT
// A progress bar on standard error for long transfers and captures: bytes (or samples) done, rate
// and time left. It shows only where standard error is a terminal, so logs and pipes stay clean.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace ferrox_tool {

class ProgressBar final {
 public:
  enum class Counting { Bytes, Samples };
  ProgressBar(std::string label, std::size_t total, Counting counting = Counting::Bytes);
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // Redraws, at most a few times a second and always at the end.
  void update(std::size_t done);

 private:
  void draw(std::size_t done);
  std::string amount_text(double amount) const;

  std::string label_;
  std::size_t total_;
  Counting counting_;
  bool shown_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point last_draw_{};
};

}  // namespace ferrox_tool

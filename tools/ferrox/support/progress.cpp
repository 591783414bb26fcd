// SPDX-License-Identifier: MIT
// Drawing the progress bar. Written here rather than taken from a library: it is one line of text
// redrawn in place, and Debian packages no small C++ library for it.
#include "tools/ferrox/support/progress.h"

#include <unistd.h>

#include <fmt/format.h>

#include <iostream>

namespace ferrox_tool {

namespace {

constexpr std::size_t BarWidth = 30;
constexpr auto RedrawInterval = std::chrono::milliseconds(100);

std::string size_text(double bytes) {
  if (bytes >= 1024 * 1024) return fmt::format("{:.1f} MiB", bytes / (1024 * 1024));
  if (bytes >= 1024) return fmt::format("{:.1f} KiB", bytes / 1024);
  return fmt::format("{:.0f} B", bytes);
}

}  // namespace

ProgressBar::ProgressBar(std::string label, std::size_t total, Counting counting)
    : label_(std::move(label)), total_(total), counting_(counting), shown_(isatty(STDERR_FILENO) == 1) {}

ProgressBar::~ProgressBar() {
  if (drawn_) std::cerr << '\n';
}

void ProgressBar::update(std::size_t done) {
  if (!shown_) return;
  auto now = std::chrono::steady_clock::now();
  if (done < total_ && now - last_draw_ < RedrawInterval) return;
  last_draw_ = now;
  draw(done);
}

std::string ProgressBar::amount_text(double amount) const {
  return counting_ == Counting::Bytes ? size_text(amount) : fmt::format("{:.0f} samples", amount);
}

void ProgressBar::draw(std::size_t done) {
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
  std::size_t filled = total_ ? done * BarWidth / total_ : BarWidth;
  std::string left = rate > 0 ? fmt::format("{:.0f} s left", static_cast<double>(total_ - done) / rate) : "";
  // \r and the erase-to-end-of-line sequence redraw the one line in place.
  std::cerr << fmt::format("\r{} [{}{}] {} of {}, {}/s, {}\x1b[K", label_, std::string(filled, '#'),
                           std::string(BarWidth - filled, '.'), amount_text(static_cast<double>(done)),
                           amount_text(static_cast<double>(total_)), amount_text(rate), left)
            << std::flush;
  drawn_ = true;
}

}  // namespace ferrox_tool

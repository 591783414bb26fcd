// SPDX-License-Identifier: MIT
// The interrupt signal recorder.
#include "tests/contract/signal_recorder.h"

#include <time.h>

#include <algorithm>

namespace contract {

namespace {

// One recorder at a time: the handler cannot be told which one.
siginfo_t recorded[SignalRecorder::Capacity];
volatile sig_atomic_t arrived = 0;

void record(int, siginfo_t* info, void*) {
  if (static_cast<std::size_t>(arrived) < SignalRecorder::Capacity) recorded[arrived] = *info;
  arrived = arrived + 1;
}

}  // namespace

SignalRecorder::SignalRecorder(int signal) : signal_(signal) {
  arrived = 0;
  struct sigaction action {};
  action.sa_sigaction = record;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, &previous_action_);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  pthread_sigmask(SIG_UNBLOCK, &only, &previous_mask_);
}

SignalRecorder::~SignalRecorder() {
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal_);
  pthread_sigmask(SIG_BLOCK, &only, nullptr);
  timespec none{0, 0};
  while (sigtimedwait(&only, nullptr, &none) == signal_) {
  }
  sigaction(signal_, &previous_action_, nullptr);
  pthread_sigmask(SIG_SETMASK, &previous_mask_, nullptr);
}

std::size_t SignalRecorder::count() const { return static_cast<std::size_t>(arrived); }

const siginfo_t& SignalRecorder::at(std::size_t index) const { return recorded[index]; }

std::size_t SignalRecorder::carrying(std::uint32_t cookie, int line) const {
  std::size_t stored = std::min(count(), Capacity);
  return static_cast<std::size_t>(std::count_if(recorded, recorded + stored, [&](const siginfo_t& info) {
    return static_cast<std::uint32_t>(info.si_errno) == cookie && info.si_code == line;
  }));
}

bool SignalRecorder::wait_for(std::size_t wanted, int timeout_ms) const {
  constexpr int PollMs = 1;
  for (int waited = 0; count() < wanted && waited < timeout_ms; waited += PollMs) {
    timespec pause{0, PollMs * 1000000L};
    nanosleep(&pause, nullptr);
  }
  return count() >= wanted;
}

}  // namespace contract

// SPDX-License-Identifier: MIT
// Every interrupt signal that reaches the calling thread, whole, recorded by a handler for as long
// as the recorder lives. The handler only stores into room reserved beforehand.
#pragma once

#include <signal.h>

#include <cstddef>
#include <cstdint>

namespace contract {

class SignalRecorder final {
 public:
  static constexpr std::size_t Capacity = 256;

  // Installs the handler and unblocks the signal in this thread.
  explicit SignalRecorder(int signal);
  // Blocks the signal, takes whatever is still queued, and restores the handler and the mask.
  ~SignalRecorder();
  SignalRecorder(const SignalRecorder&) = delete;
  SignalRecorder& operator=(const SignalRecorder&) = delete;

  std::size_t count() const;
  const siginfo_t& at(std::size_t index) const;
  // How many of the recorded signals carry this cookie in si_errno and this line in si_code.
  std::size_t carrying(std::uint32_t cookie, int line) const;
  // Waits until at least count signals arrived, or the time is up; says whether they did.
  bool wait_for(std::size_t count, int timeout_ms) const;

 private:
  int signal_;
  struct sigaction previous_action_ {};
  sigset_t previous_mask_{};
};

}  // namespace contract

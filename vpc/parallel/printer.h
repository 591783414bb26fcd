// SPDX-License-Identifier: MIT
// A printer on a parallel port's connector, with the classic handshake:
//
//   strobe falls    the printer takes the byte on the data lines and raises busy
//   strobe rises    it starts printing the byte: busy_steps steps
//   then            it pulls acknowledge low for ack_steps steps; when acknowledge returns high,
//                   busy drops and the next byte may come
//
// A strobe while busy is not seen, and the byte on the data lines is lost, as with a real
// printer; a careful host waits for busy to drop. The printer also stays busy and takes nothing
// while it is off line, out of paper, in error, or held in reset by a low init line; a falling
// init line abandons the byte being printed. Auto feed and select in are not looked at.
//
// Time is counted in the connector's steps (one per access to the port's registers), not in
// wall-clock time: the handshake takes the same number of host accesses on any host, however
// fast it runs, so a host that polls busy sees the same sequence every time.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "ferrox/common/Result.h"
#include "ferrox/vpc/Export.h"
#include "ferrox/vpc/parallel/parallel_connector.h"
#include "ferrox/vpc/platform/recent_bytes.h"

namespace ferrox::vpc {

struct PrinterSettings {
  bool paper_end = false;   // out of paper: the paper end line is high
  bool offline = false;     // not selected: the select line is low
  bool error = false;       // the error line is low
  unsigned busy_steps = 8;  // from the end of the strobe pulse to the acknowledge pulse
  unsigned ack_steps = 2;   // length of the acknowledge pulse
  std::string output_file;  // when set, every byte taken is also appended to this file

  friend bool operator==(const PrinterSettings&, const PrinterSettings&) = default;
};

class VPC_API Printer final : public LineDevice {
 public:
  // A printer on line, with paper and no error, as PrinterSettings{} describes it.
  explicit Printer(ParallelConnector& connector);

  // Changes the printer's condition (paper, on line, error, timing, output file); the bytes taken
  // stay. An output file that cannot be opened is an error, and the printer then keeps its bytes
  // to itself.
  ferrox::Status configure(const PrinterSettings& settings);

  // The bytes taken, in order (the newest, once there are many; output_file has them all).
  const std::vector<std::uint8_t>& received() const { return state_.received.kept(); }
  std::string received_text() const { return {received().begin(), received().end()}; }
  // Strobes that came while the printer could take nothing: bytes lost.
  std::uint64_t missed_strobes() const { return state_.missed_strobes; }

  PinMask pulled_low() const override;
  void lines_changed(PinMask before, PinMask now) override;
  bool takes_time() const override { return true; }
  void step() override;

 private:
  enum class Phase {
    Idle,           // ready for a byte (when on line, with paper, no error, not in reset)
    Taking,         // strobe low: the byte is taken
    Printing,       // busy, counting busy_steps
    Acknowledging,  // acknowledge low, counting ack_steps
  };

  struct State {
    Phase phase = Phase::Idle;
    unsigned steps_left = 0;
    bool in_reset = false;  // the init line is low
    RecentBytes received;
    std::uint64_t missed_strobes = 0;
  };

  struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };

  bool ready() const;
  bool busy() const { return state_.phase != Phase::Idle || !ready(); }
  void take_byte(PinMask levels);
  void enter(Phase phase, unsigned steps);

  ParallelConnector& connector_;
  PrinterSettings settings_;
  std::unique_ptr<std::FILE, FileCloser> output_;
  State state_;
};

}  // namespace ferrox::vpc

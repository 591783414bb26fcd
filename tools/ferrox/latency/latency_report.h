// SPDX-License-Identifier: MIT
// What ferrox latency measured, and its three renderings: text with a histogram for the terminal,
// one JSON document, and a PNG chart.
#pragma once

#include <nlohmann/json.hpp>

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "ferrox/common/Result.h"
#include "tools/ferrox/latency/interrupt_latency.h"
#include "tools/ferrox/latency/operation_costs.h"

namespace ferrox_tool {

constexpr int HistogramBins = 16;

struct LatencyReport {
  bool virtual_pc = false;
  std::vector<OperationCost> operations;
  std::optional<InterruptLatency> interrupts;  // absent when they could not be measured
};

// "LPT1 pin 16 (nInit) wired to nAck, IRQ 7: from the write to OnHwInterrupt", or the timer's.
std::string interrupt_title(const InterruptLatency& interrupts);

void print_text(std::ostream& out, const LatencyReport& report);
nlohmann::json report_json(const LatencyReport& report);
ferrox::Status write_latency_png(const std::string& file, const LatencyReport& report);

}  // namespace ferrox_tool

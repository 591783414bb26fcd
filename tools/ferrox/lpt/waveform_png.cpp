// SPDX-License-Identifier: MIT
// Drawing the waveform with cairo, which also writes the PNG.
#include "tools/ferrox/lpt/waveform_png.h"

#include <fmt/format.h>

#include "tools/ferrox/support/durations.h"
#include "tools/ferrox/support/png_chart.h"

namespace ferrox_tool {

namespace {

constexpr double Width = 1200;
constexpr double LabelWidth = 150;
constexpr double RightMargin = 50;
constexpr double TopMargin = 30;
constexpr double RowHeight = 28;
constexpr double TraceHeight = 14;
constexpr double AxisHeight = 40;
constexpr int GridLines = 10;

constexpr Colour Data{0.35, 0.80, 0.45};      // D0..D7
constexpr Colour Status{0.95, 0.70, 0.25};    // lines the printer drives
constexpr Colour Control{0.40, 0.65, 0.95};   // strobe, auto feed, init, select in

Colour colour_of(int pin) {
  if (ferrox::PinsPort[pin] == 0) return Data;
  return ferrox::PinsPort[pin] == 1 ? Status : Control;
}

double row_top(int pin) { return TopMargin + (pin - 1) * RowHeight; }

void draw_grid(cairo_t* cr, const PinRecorder& recording, double height) {
  double plot = Width - LabelWidth - RightMargin;
  cairo_set_line_width(cr, 1);
  cairo_set_font_size(cr, 11);
  for (int line = 0; line <= GridLines; ++line) {
    double x = LabelWidth + plot * line / GridLines;
    set_colour(cr, ChartGrid);
    cairo_move_to(cr, x + 0.5, TopMargin - 6);
    cairo_line_to(cr, x + 0.5, height - AxisHeight + 6);
    cairo_stroke(cr);
    set_colour(cr, ChartText);
    cairo_move_to(cr, x - 16, height - AxisHeight + 24);
    cairo_show_text(cr, duration_text(static_cast<double>(recording.end_nanoseconds()) * line / GridLines).c_str());
  }
  cairo_move_to(cr, 12, 20);
  cairo_show_text(cr, fmt::format("{}: {} changes in {}", recording.port_name(), recording.samples().size(),
                                  duration_text(static_cast<double>(recording.end_nanoseconds())))
                          .c_str());
}

void draw_trace(cairo_t* cr, const PinRecorder& recording, int pin) {
  double plot = Width - LabelWidth - RightMargin;
  double end = std::max<double>(static_cast<double>(recording.end_nanoseconds()), 1);
  double high = row_top(pin) + (RowHeight - TraceHeight) / 2, low = high + TraceHeight;
  set_colour(cr, ChartText);
  cairo_set_font_size(cr, 12);
  cairo_move_to(cr, 12, low - 2);
  cairo_show_text(cr, fmt::format("{:>2} {}", pin, PinSignalNames[pin]).c_str());
  set_colour(cr, colour_of(pin));
  cairo_set_line_width(cr, 1.5);
  const std::vector<PinSample>& samples = recording.samples();
  if (samples.empty()) return;
  auto x_of = [&](const PinSample& sample) { return LabelWidth + plot * static_cast<double>(sample.nanoseconds) / end; };
  double y = samples.front().level(pin) ? high : low;
  cairo_move_to(cr, x_of(samples.front()), y);
  for (const PinSample& sample : samples) {
    cairo_line_to(cr, x_of(sample), y);  // the level held until this sample,
    y = sample.level(pin) ? high : low;
    cairo_line_to(cr, x_of(sample), y);  // and the edge, straight up or down
  }
  cairo_line_to(cr, LabelWidth + plot, y);
  cairo_stroke(cr);
}

}  // namespace

ferrox::Status write_waveform_png(const std::string& file, const PinRecorder& recording) {
  double height = TopMargin + ferrox::LptPinCount * RowHeight + AxisHeight;
  return write_chart_png(file, Width, height, [&](cairo_t* cr) {
    draw_grid(cr, recording, height);
    for (int pin = 1; pin <= ferrox::LptPinCount; ++pin) draw_trace(cr, recording, pin);
  });
}

}  // namespace ferrox_tool

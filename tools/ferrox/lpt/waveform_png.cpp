// SPDX-License-Identifier: MIT
// Drawing the waveform with cairo, which also writes the PNG.
#include "tools/ferrox/lpt/waveform_png.h"

#include <fmt/format.h>

#include "tools/ferrox/support/durations.h"
#include "tools/ferrox/support/png_chart.h"

namespace ferrox_tool {

namespace {

constexpr double Width = 1400;
constexpr double LabelWidth = 190;
constexpr double RightMargin = 60;
constexpr double TopMargin = 44;
constexpr double RowHeight = 34;
constexpr double TraceHeight = 18;
constexpr double AxisHeight = 48;
constexpr int MostTicks = 10;
constexpr double TitleSize = 18, LabelSize = 16, TickSize = 15;
constexpr int BusRow = ferrox::LptPinCount + 1;  // the data byte, below the 17 pins

constexpr Colour Data{0.35, 0.80, 0.45};      // D0..D7
constexpr Colour Status{0.95, 0.70, 0.25};    // lines the printer drives
constexpr Colour Control{0.40, 0.65, 0.95};   // strobe, auto feed, init, select in

Colour colour_of(int pin) {
  if (ferrox::PinsPort[pin] == 0) return Data;
  return ferrox::PinsPort[pin] == 1 ? Status : Control;
}

double row_top(int row) { return TopMargin + (row - 1) * RowHeight; }
double plot_width() { return Width - LabelWidth - RightMargin; }

// Where a time falls on the plot.
class TimeScale {
 public:
  explicit TimeScale(const PinRecorder& recording)
      : end_(std::max<double>(static_cast<double>(recording.end_nanoseconds()), 1)) {}
  double x(double nanoseconds) const { return LabelWidth + plot_width() * nanoseconds / end_; }
  double end() const { return end_; }

 private:
  double end_;
};

std::string title_text(const PinRecorder& recording) {
  std::size_t changes = recording.change_count();
  return fmt::format("{}: {} change{} in {}", recording.port_name(), changes, changes == 1 ? "" : "s",
                     duration_text(static_cast<double>(recording.end_nanoseconds())));
}

void draw_grid(cairo_t* cr, const PinRecorder& recording, const TimeScale& scale, double height) {
  cairo_set_line_width(cr, 1);
  cairo_set_font_size(cr, TickSize);
  for (const TimeTick& tick : time_ticks(static_cast<double>(recording.end_nanoseconds()), MostTicks)) {
    double x = scale.x(tick.nanoseconds);
    set_colour(cr, ChartGrid);
    cairo_move_to(cr, x + 0.5, TopMargin - 6);
    cairo_line_to(cr, x + 0.5, height - AxisHeight + 6);
    cairo_stroke(cr);
    cairo_text_extents_t extents;
    cairo_text_extents(cr, tick.label.c_str(), &extents);
    set_colour(cr, ChartText);
    cairo_move_to(cr, x - extents.width / 2, height - AxisHeight + 30);
    cairo_show_text(cr, tick.label.c_str());
  }
  cairo_set_font_size(cr, TitleSize);
  cairo_move_to(cr, 14, 26);
  cairo_show_text(cr, title_text(recording).c_str());
}

void draw_label(cairo_t* cr, int row, const std::string& label) {
  set_colour(cr, ChartText);
  cairo_set_font_size(cr, LabelSize);
  cairo_move_to(cr, 14, row_top(row) + (RowHeight + TraceHeight) / 2 - 3);
  cairo_show_text(cr, label.c_str());
}

void draw_trace(cairo_t* cr, const PinRecorder& recording, const TimeScale& scale, int pin) {
  double high = row_top(pin) + (RowHeight - TraceHeight) / 2, low = high + TraceHeight;
  draw_label(cr, pin, fmt::format("{:>2} {}", pin, PinSignalNames[pin]));
  set_colour(cr, colour_of(pin));
  cairo_set_line_width(cr, 1.5);
  const std::vector<PinSample>& samples = recording.samples();
  auto x_of = [&](const PinSample& sample) { return scale.x(static_cast<double>(sample.nanoseconds)); };
  double y = samples.front().level(pin) ? high : low;
  cairo_move_to(cr, x_of(samples.front()), y);
  for (const PinSample& sample : samples) {
    cairo_line_to(cr, x_of(sample), y);  // the level held until this sample,
    y = sample.level(pin) ? high : low;
    cairo_line_to(cr, x_of(sample), y);  // and the edge, straight up or down
  }
  cairo_line_to(cr, LabelWidth + plot_width(), y);
  cairo_stroke(cr);
}

// The data lines read together as a byte, as an analyzer's bus row shows them: a span for each value
// they held, crossed where it changed, with the value written in where the span is wide enough.
void draw_data_byte(cairo_t* cr, const PinRecorder& recording, const TimeScale& scale) {
  draw_label(cr, BusRow, "   D7..D0");
  double top = row_top(BusRow) + (RowHeight - TraceHeight) / 2, bottom = top + TraceHeight, middle = (top + bottom) / 2;
  std::vector<std::pair<double, ferrox::Byte>> spans;  // where each value began
  for (const PinSample& sample : recording.samples())
    if (spans.empty() || spans.back().second != sample.registers[0])
      spans.push_back({scale.x(static_cast<double>(sample.nanoseconds)), sample.registers[0]});
  cairo_set_line_width(cr, 1.5);
  cairo_set_font_size(cr, TickSize);
  for (std::size_t index = 0; index < spans.size(); ++index) {
    double from = spans[index].first, to = index + 1 < spans.size() ? spans[index + 1].first : scale.x(scale.end());
    double edge = std::min(3.0, (to - from) / 2);
    set_colour(cr, Data);
    cairo_move_to(cr, from, middle);
    cairo_line_to(cr, from + edge, top);
    cairo_line_to(cr, to - edge, top);
    cairo_line_to(cr, to, middle);
    cairo_line_to(cr, to - edge, bottom);
    cairo_line_to(cr, from + edge, bottom);
    cairo_close_path(cr);
    cairo_stroke(cr);
    std::string value = fmt::format("{:#04x}", spans[index].second);
    cairo_text_extents_t extents;
    cairo_text_extents(cr, value.c_str(), &extents);
    if (extents.width + 2 * edge + 4 > to - from) continue;
    set_colour(cr, ChartText);
    cairo_move_to(cr, (from + to - extents.width) / 2, middle + extents.height / 2);
    cairo_show_text(cr, value.c_str());
  }
}

}  // namespace

ferrox::Status write_waveform_png(const std::string& file, const PinRecorder& recording) {
  double height = TopMargin + BusRow * RowHeight + AxisHeight;
  TimeScale scale(recording);
  return write_chart_png(file, Width, height, [&](cairo_t* cr) {
    draw_grid(cr, recording, scale, height);
    for (int pin = 1; pin <= ferrox::LptPinCount; ++pin) draw_trace(cr, recording, scale, pin);
    draw_data_byte(cr, recording, scale);
  });
}

}  // namespace ferrox_tool

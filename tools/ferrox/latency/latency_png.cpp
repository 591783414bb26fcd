// SPDX-License-Identifier: MIT
// ferrox latency's chart: the calls' figures as a table above the interrupt latency's histogram,
// one bar a bin, its count above it.
#include <fmt/format.h>

#include <algorithm>

#include "tools/ferrox/latency/latency_report.h"
#include "tools/ferrox/support/durations.h"
#include "tools/ferrox/support/png_chart.h"

namespace ferrox_tool {

namespace {

constexpr double Width = 1000;
constexpr double Margin = 30;
constexpr double LineHeight = 20;
constexpr double PlotHeight = 300;
constexpr double AxisHeight = 50;

constexpr Colour Bar{0.35, 0.80, 0.45};
constexpr Colour Notice{0.95, 0.70, 0.25};

void text_at(cairo_t* cr, double x, double y, const std::string& text) {
  cairo_move_to(cr, x, y);
  cairo_show_text(cr, text.c_str());
}

std::string figures(const Summary& summary) {
  return fmt::format("min {:>9}  median {:>9}  p99 {:>9}  max {:>9}", duration_text(summary.minimum),
                     duration_text(summary.median), duration_text(summary.p99), duration_text(summary.maximum));
}

// The table of calls; returns where the next drawing starts.
double draw_operations(cairo_t* cr, const LatencyReport& report, double y) {
  if (report.virtual_pc) {
    set_colour(cr, Notice);
    text_at(cr, Margin, y, "The virtual PC's figures: its driver and devices emulated on this processor, not a PC's hardware");
    y += LineHeight;
  }
  set_colour(cr, ChartText);
  for (const OperationCost& cost : report.operations) {
    text_at(cr, Margin, y, fmt::format("{:<34} {}", cost.name, cost.calls == 0 ? "not measured: " + cost.reason
                                                                               : figures(cost.summary)));
    y += LineHeight;
  }
  return y + LineHeight;
}

void draw_histogram(cairo_t* cr, const InterruptLatency& interrupts, double top) {
  set_colour(cr, ChartText);
  text_at(cr, Margin, top, "interrupt latency, " + interrupt_title(interrupts));
  text_at(cr, Margin, top + LineHeight,
          fmt::format("{} samples: {}", interrupts.samples.size(), figures(summarize(interrupts.samples))));
  std::vector<HistogramBin> bins = histogram(interrupts.samples, HistogramBins);
  std::size_t most = 1;
  for (const HistogramBin& bin : bins) most = std::max(most, bin.count);
  double plot_top = top + 2.5 * LineHeight, bottom = plot_top + PlotHeight;
  double slot = (Width - 2 * Margin) / static_cast<double>(std::max<std::size_t>(bins.size(), 1));
  set_colour(cr, ChartGrid);
  cairo_set_line_width(cr, 1);
  cairo_move_to(cr, Margin, bottom + 0.5);
  cairo_line_to(cr, Width - Margin, bottom + 0.5);
  cairo_stroke(cr);
  for (std::size_t index = 0; index < bins.size(); ++index) {
    double x = Margin + slot * static_cast<double>(index);
    double height = PlotHeight * static_cast<double>(bins[index].count) / static_cast<double>(most);
    if (bins[index].count > 0) height = std::max(height, 2.0);  // a lone sample still shows
    set_colour(cr, Bar);
    cairo_rectangle(cr, x + 2, bottom - height, slot - 4, height);
    cairo_fill(cr);
    set_colour(cr, ChartText);
    text_at(cr, x + 4, bottom - height - 4, std::to_string(bins[index].count));
    text_at(cr, x + 2, bottom + 16 + 14 * static_cast<double>(index % 2), duration_text(bins[index].from));
  }
}

}  // namespace

ferrox::Status write_latency_png(const std::string& file, const LatencyReport& report) {
  double table = (static_cast<double>(report.operations.size()) + 3) * LineHeight;
  double height = Margin + table + (report.interrupts ? 2.5 * LineHeight + PlotHeight + AxisHeight : 0) + Margin;
  return write_chart_png(file, Width, height, [&](cairo_t* cr) {
    cairo_set_font_size(cr, 12);
    double next = draw_operations(cr, report, Margin);
    if (report.interrupts) draw_histogram(cr, *report.interrupts, next);
  });
}

}  // namespace ferrox_tool

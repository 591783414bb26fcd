// SPDX-License-Identifier: MIT
// Drawing the waveform with cairo, which also writes the PNG.
#include "tools/ferrox/lpt/waveform_png.h"

#include <cairo.h>
#include <fmt/format.h>
#include <fontconfig/fontconfig.h>

#include <memory>

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

struct Colour {
  double red, green, blue;
};
constexpr Colour Background{0.08, 0.09, 0.11};
constexpr Colour Grid{0.22, 0.24, 0.28};
constexpr Colour Text{0.85, 0.87, 0.90};
constexpr Colour Data{0.35, 0.80, 0.45};      // D0..D7
constexpr Colour Status{0.95, 0.70, 0.25};    // lines the printer drives
constexpr Colour Control{0.40, 0.65, 0.95};   // strobe, auto feed, init, select in

using Surface = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;
using Context = std::unique_ptr<cairo_t, decltype(&cairo_destroy)>;

void set(cairo_t* cr, Colour colour) { cairo_set_source_rgb(cr, colour.red, colour.green, colour.blue); }

Colour colour_of(int pin) {
  if (ferrox::PinsPort[pin] == 0) return Data;
  return ferrox::PinsPort[pin] == 1 ? Status : Control;
}

// "1.5 ms", "120 us", "800 ns": the time at a grid line.
std::string time_text(double nanoseconds) {
  if (nanoseconds >= 1e9) return fmt::format("{:.3g} s", nanoseconds / 1e9);
  if (nanoseconds >= 1e6) return fmt::format("{:.3g} ms", nanoseconds / 1e6);
  if (nanoseconds >= 1e3) return fmt::format("{:.3g} us", nanoseconds / 1e3);
  return fmt::format("{:.3g} ns", nanoseconds);
}

double row_top(int pin) { return TopMargin + (pin - 1) * RowHeight; }

void draw_grid(cairo_t* cr, const PinRecorder& recording, double height) {
  double plot = Width - LabelWidth - RightMargin;
  cairo_set_line_width(cr, 1);
  cairo_set_font_size(cr, 11);
  for (int line = 0; line <= GridLines; ++line) {
    double x = LabelWidth + plot * line / GridLines;
    set(cr, Grid);
    cairo_move_to(cr, x + 0.5, TopMargin - 6);
    cairo_line_to(cr, x + 0.5, height - AxisHeight + 6);
    cairo_stroke(cr);
    set(cr, Text);
    cairo_move_to(cr, x - 16, height - AxisHeight + 24);
    cairo_show_text(cr, time_text(static_cast<double>(recording.end_nanoseconds()) * line / GridLines).c_str());
  }
  cairo_move_to(cr, 12, 20);
  cairo_show_text(cr, fmt::format("LPT{}: {} changes in {}", recording.port_number(), recording.samples().size(),
                                  time_text(static_cast<double>(recording.end_nanoseconds())))
                          .c_str());
}

void draw_trace(cairo_t* cr, const PinRecorder& recording, int pin) {
  double plot = Width - LabelWidth - RightMargin;
  double end = std::max<double>(static_cast<double>(recording.end_nanoseconds()), 1);
  double high = row_top(pin) + (RowHeight - TraceHeight) / 2, low = high + TraceHeight;
  set(cr, Text);
  cairo_set_font_size(cr, 12);
  cairo_move_to(cr, 12, low - 2);
  cairo_show_text(cr, fmt::format("{:>2} {}", pin, PinSignalNames[pin]).c_str());
  set(cr, colour_of(pin));
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
  Surface surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, static_cast<int>(Width), static_cast<int>(height)),
                  cairo_surface_destroy);
  Context cr(cairo_create(surface.get()), cairo_destroy);
  set(cr.get(), Background);
  cairo_paint(cr.get());
  cairo_select_font_face(cr.get(), "DejaVu Sans Mono", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  draw_grid(cr.get(), recording, height);
  for (int pin = 1; pin <= ferrox::LptPinCount; ++pin) draw_trace(cr.get(), recording, pin);
  cairo_status_t status = cairo_surface_write_to_png(surface.get(), file.c_str());
  // The fonts' caches are the process's, kept for later text: one picture a run needs them no more.
  cr.reset();
  surface.reset();
  cairo_debug_reset_static_data();
  FcFini();
  if (status != CAIRO_STATUS_SUCCESS)
    return ferrox::Error{fmt::format("cannot write {}: {}", file, cairo_status_to_string(status))};
  return ferrox::Done{};
}

}  // namespace ferrox_tool

// SPDX-License-Identifier: MIT
// One cairo surface a picture, its font caches let go once it is written.
#include "tools/ferrox/support/png_chart.h"

#include <fmt/format.h>
#include <fontconfig/fontconfig.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace ferrox_tool {

namespace {

using Surface = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;
using Context = std::unique_ptr<cairo_t, decltype(&cairo_destroy)>;

}  // namespace

void set_colour(cairo_t* cr, Colour colour) { cairo_set_source_rgb(cr, colour.red, colour.green, colour.blue); }

namespace {

// The PNG goes through a file opened here, so that a fault says why (a directory, a full disk)
// where cairo alone would say only that the stream failed.
cairo_status_t write_to_file(void* file, const unsigned char* data, unsigned int length) {
  return std::fwrite(data, 1, length, static_cast<std::FILE*>(file)) == length ? CAIRO_STATUS_SUCCESS
                                                                                : CAIRO_STATUS_WRITE_ERROR;
}

}  // namespace

ferrox::Status write_chart_png(const std::string& file, double width, double height,
                               const std::function<void(cairo_t*)>& draw) {
  Surface surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, static_cast<int>(width), static_cast<int>(height)),
                  cairo_surface_destroy);
  Context cr(cairo_create(surface.get()), cairo_destroy);
  set_colour(cr.get(), ChartBackground);
  cairo_paint(cr.get());
  cairo_select_font_face(cr.get(), "DejaVu Sans Mono", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  draw(cr.get());
  errno = 0;
  std::FILE* out = std::fopen(file.c_str(), "wb");
  cairo_status_t status = out ? cairo_surface_write_to_png_stream(surface.get(), write_to_file, out) : CAIRO_STATUS_WRITE_ERROR;
  if (out && std::fclose(out) != 0) status = CAIRO_STATUS_WRITE_ERROR;
  int fault = errno;
  // The fonts' caches are the process's, kept for later text: one picture a run needs them no more.
  cr.reset();
  surface.reset();
  cairo_debug_reset_static_data();
  FcFini();
  if (status != CAIRO_STATUS_SUCCESS)
    return ferrox::Error{fmt::format("cannot write {}: {}", file,
                                     fault ? std::strerror(fault) : cairo_status_to_string(status))};
  return ferrox::Done{};
}

}  // namespace ferrox_tool

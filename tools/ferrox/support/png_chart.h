// SPDX-License-Identifier: MIT
// The tool's pictures: a chart drawn with cairo on one dark background, in one monospaced font,
// and written as a PNG.
#pragma once

#include <cairo.h>

#include <functional>
#include <string>

#include "ferrox/common/Result.h"

namespace ferrox_tool {

struct Colour {
  double red, green, blue;
};
constexpr Colour ChartBackground{0.08, 0.09, 0.11};
constexpr Colour ChartGrid{0.22, 0.24, 0.28};
constexpr Colour ChartText{0.85, 0.87, 0.90};

void set_colour(cairo_t* cr, Colour colour);

// A picture width by height pixels, painted with the background and given the font, that draw
// fills; then written to file.
ferrox::Status write_chart_png(const std::string& file, double width, double height,
                               const std::function<void(cairo_t*)>& draw);

}  // namespace ferrox_tool

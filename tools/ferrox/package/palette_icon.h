// SPDX-License-Identifier: MIT
// A palette bitmap (a device-independent bitmap with a colour table, as a package carries it for
// each class it puts on the palette) turned into a PNG.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

#include "ferrox/common/Result.h"

namespace ferrox_tool {

// Writes the bitmap to file as an RGB PNG. Takes uncompressed bitmaps of 1, 4 or 8 bits per
// pixel, rows stored bottom-up or top-down.
ferrox::Status write_palette_icon_png(std::span<const std::uint8_t> bitmap, const std::filesystem::path& file);

}  // namespace ferrox_tool

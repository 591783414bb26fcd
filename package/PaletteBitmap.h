// SPDX-License-Identifier: MIT
// The component's palette icon: a 24 by 24 device-independent bitmap with 4 bits per pixel.
#pragma once

#include <array>
#include <cstdint>

namespace ferrox::package {

constexpr int PaletteBitmapSide = 24;
constexpr std::size_t PaletteBitmapHeaderSize = 40;
constexpr std::size_t PaletteBitmapColours = 16;
constexpr std::size_t PaletteBitmapRowBytes = 12;  // 24 pixels of 4 bits, already a multiple of 4 bytes
constexpr std::size_t PaletteBitmapSize =
    PaletteBitmapHeaderSize + 4 * PaletteBitmapColours + PaletteBitmapRowBytes * PaletteBitmapSide;
static_assert(PaletteBitmapSize == 392);

extern const std::array<std::uint8_t, PaletteBitmapSize> PaletteBitmap;

}  // namespace ferrox::package

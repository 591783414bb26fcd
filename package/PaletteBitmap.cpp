// SPDX-License-Identifier: MIT
// The palette icon: a chip with a lightning bolt on it, for a component that reaches the
// hardware. Drawn below one character per pixel and packed into the bitmap at compile time.
// The designer takes the colour of the bottom-left pixel as transparent, so the background
// there is the palette's own grey.
#include "PaletteBitmap.h"

#include <string_view>

namespace ferrox::package {

namespace {

struct Colour {
  char key;
  std::uint8_t red, green, blue;
};

// The colour table, in index order; key is the character that draws the colour below.
constexpr Colour Colours[PaletteBitmapColours] = {
    {'.', 0xC0, 0xC0, 0xC0},  // background, the palette's grey
    {'k', 0x10, 0x10, 0x14},  // outline
    {'b', 0x34, 0x36, 0x3C},  // package body
    {'h', 0x5C, 0x60, 0x6A},  // body edge catching the light
    {'n', 0x20, 0x21, 0x25},  // orientation notch
    {'s', 0xE8, 0xE8, 0xEC},  // pin, lit face
    {'S', 0x90, 0x92, 0x98},  // pin, shaded face
    {'y', 0xFF, 0xD8, 0x28},  // bolt
    {'o', 0xE0, 0x80, 0x10},  // bolt, shaded edge
    {'w', 0xF8, 0xF8, 0xF8},  // pin-1 mark
    // Unused: the table of a 4-bit bitmap always holds 16 colours.
    {'r', 0xE0, 0x28, 0x20},
    {'g', 0x28, 0xA0, 0x48},
    {'c', 0x20, 0x80, 0xD0},
    {'m', 0x80, 0x40, 0xA0},
    {'d', 0xA0, 0xA0, 0xA0},
    {'K', 0x00, 0x00, 0x00},
};

// Top row first.
constexpr std::string_view Picture[PaletteBitmapSide] = {
    "........................",
    ".....kkkkkkkkkkkkkk.....",
    ".....khhhhhnnhhhhhk.....",
    ".sssskbbbbbnnbbbbbkssss.",
    ".SSSSkbwbbbbbbbbbbkSSSS.",
    ".....kbbbbbbbbyyybk.....",
    ".....kbbbbbbbyyyobk.....",
    ".sssskbbbbbbyyyobbkssss.",
    ".SSSSkbbbbbyyyobbbkSSSS.",
    ".....kbbbbyyyobbbbk.....",
    ".....kbbbyyyyyyyobk.....",
    ".sssskbbbooooyyyobkssss.",
    ".SSSSkbbbbbbyyyobbkSSSS.",
    ".....kbbbbbyyyobbbk.....",
    ".....kbbbbyyyobbbbk.....",
    ".sssskbbbyyyobbbbbkssss.",
    ".SSSSkbbbyyobbbbbbkSSSS.",
    ".....kbbbyobbbbbbbk.....",
    ".....kbbbobbbbbbbbk.....",
    ".sssskbbbbbbbbbbbbkssss.",
    ".SSSSkbbbbbbbbbbbbkSSSS.",
    ".....kbbbbbbbbbbbbk.....",
    ".....kkkkkkkkkkkkkk.....",
    "........................",
};

constexpr std::uint8_t IndexOf(char key) {
  for (std::size_t i = 0; i < PaletteBitmapColours; ++i)
    if (Colours[i].key == key) return static_cast<std::uint8_t>(i);
  throw "a pixel of the picture has no colour";  // stops the compilation
}

constexpr void Put32(std::array<std::uint8_t, PaletteBitmapSize>& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

constexpr void Put16(std::array<std::uint8_t, PaletteBitmapSize>& bytes, std::size_t at, std::uint16_t value) {
  bytes[at] = static_cast<std::uint8_t>(value);
  bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

constexpr std::array<std::uint8_t, PaletteBitmapSize> Pack() {
  std::array<std::uint8_t, PaletteBitmapSize> bytes{};
  // The header: positive height means the rows are stored bottom row first.
  Put32(bytes, 0, PaletteBitmapHeaderSize);
  Put32(bytes, 4, PaletteBitmapSide);   // width
  Put32(bytes, 8, PaletteBitmapSide);   // height
  Put16(bytes, 12, 1);                  // planes
  Put16(bytes, 14, 4);                  // bits per pixel
  Put32(bytes, 16, 0);                  // uncompressed
  Put32(bytes, 20, PaletteBitmapRowBytes * PaletteBitmapSide);
  Put32(bytes, 32, PaletteBitmapColours);  // colours used; the resolution fields stay 0
  // The colour table: blue, green, red, reserved.
  std::size_t at = PaletteBitmapHeaderSize;
  for (const Colour& colour : Colours) {
    bytes[at++] = colour.blue;
    bytes[at++] = colour.green;
    bytes[at++] = colour.red;
    bytes[at++] = 0;
  }
  // The pixels: two to a byte, the left one in the high half.
  for (int row = PaletteBitmapSide - 1; row >= 0; --row) {
    if (Picture[row].size() != PaletteBitmapSide) throw "a row of the picture is not 24 pixels wide";
    for (int x = 0; x < PaletteBitmapSide; x += 2)
      bytes[at++] = static_cast<std::uint8_t>(IndexOf(Picture[row][x]) << 4 | IndexOf(Picture[row][x + 1]));
  }
  return bytes;
}

}  // namespace

constexpr std::array<std::uint8_t, PaletteBitmapSize> PaletteBitmap = Pack();

}  // namespace ferrox::package

// SPDX-License-Identifier: MIT
// Decoding the palette bitmap and writing it with libpng.
#include "tools/ferrox/package/palette_icon.h"

#include <png.h>

#include <fmt/format.h>

#include <cstdlib>
#include <vector>

namespace ferrox_tool {

namespace {

constexpr std::size_t HeaderSize = 40;
constexpr int LargestSide = 256;  // palette icons are small; a larger one is a broken header

std::int64_t field(std::span<const std::uint8_t> bytes, std::size_t at, int size, bool is_signed = false) {
  std::uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = value << 8 | bytes[at + i];
  return is_signed ? std::int64_t{static_cast<std::int32_t>(value)} : std::int64_t{value};
}

struct Layout {
  int width = 0, height = 0;
  bool bottom_up = true;
  unsigned bits = 0;
  std::size_t colours = 0, row_bytes = 0, pixels = 0;  // pixels: offset of the first stored row
};

// What is wrong with the bitmap, said as the palette's.
ferrox::Error broken(std::string what) { return {"palette bitmap: " + std::move(what)}; }

// Reads the header and checks that the colour table and every row lie inside the bitmap.
ferrox::Result<Layout> read_layout(std::span<const std::uint8_t> bitmap) {
  Layout layout;
  if (bitmap.size() < HeaderSize || field(bitmap, 0, 4) != HeaderSize) return broken("not a bitmap with a 40-byte header");
  std::int64_t width = field(bitmap, 4, 4, true), height = field(bitmap, 8, 4, true);
  layout.bits = static_cast<unsigned>(field(bitmap, 14, 2));
  if (layout.bits != 1 && layout.bits != 4 && layout.bits != 8) return broken(fmt::format("{} bits per pixel", layout.bits));
  if (field(bitmap, 16, 4) != 0) return broken("a compressed bitmap");
  if (width <= 0 || width > LargestSide || height == 0 || std::abs(height) > LargestSide)
    return broken(fmt::format("a bitmap of {} by {} pixels", width, height));
  layout.width = static_cast<int>(width);
  layout.height = static_cast<int>(std::abs(height));
  layout.bottom_up = height > 0;
  std::int64_t used = field(bitmap, 32, 4);
  layout.colours = used ? static_cast<std::size_t>(used) : std::size_t{1} << layout.bits;
  if (layout.colours > std::size_t{1} << layout.bits) return broken(fmt::format("{} colours", layout.colours));
  layout.row_bytes = (static_cast<std::size_t>(layout.width) * layout.bits + 31) / 32 * 4;
  layout.pixels = HeaderSize + 4 * layout.colours;
  if (layout.pixels + layout.row_bytes * static_cast<std::size_t>(layout.height) > bitmap.size())
    return broken("a truncated bitmap");
  return layout;
}

// Rows top first, three bytes a pixel.
ferrox::Result<std::vector<std::uint8_t>> decode(std::span<const std::uint8_t> bitmap, const Layout& layout) {
  std::vector<std::uint8_t> rgb;
  for (int y = 0; y < layout.height; ++y) {
    std::size_t stored = static_cast<std::size_t>(layout.bottom_up ? layout.height - 1 - y : y);
    const std::uint8_t* row = &bitmap[layout.pixels + stored * layout.row_bytes];
    for (int x = 0; x < layout.width; ++x) {
      std::size_t bit = static_cast<std::size_t>(x) * layout.bits;
      unsigned index = row[bit / 8] >> (8 - layout.bits - bit % 8) & ((1u << layout.bits) - 1);
      if (index >= layout.colours)
        return broken(fmt::format("pixel {},{} names colour {} of {}", x, y, index, layout.colours));
      const std::uint8_t* entry = &bitmap[HeaderSize + 4 * index];  // blue, green, red, reserved
      rgb.insert(rgb.end(), {entry[2], entry[1], entry[0]});
    }
  }
  return rgb;
}

}  // namespace

ferrox::Status write_palette_icon_png(std::span<const std::uint8_t> bitmap, const std::filesystem::path& file) {
  FERROX_TRY_ASSIGN(Layout layout, read_layout(bitmap));
  FERROX_TRY_ASSIGN(std::vector<std::uint8_t> rgb, decode(bitmap, layout));
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(layout.width);
  image.height = static_cast<png_uint_32>(layout.height);
  image.format = PNG_FORMAT_RGB;
  if (!png_image_write_to_file(&image, file.c_str(), 0, rgb.data(), 0, nullptr))
    return ferrox::Error{image.message, 0, file.string()};
  return ferrox::Done{};
}

}  // namespace ferrox_tool

// SPDX-License-Identifier: MIT
// Renders the package's palette icon to a PNG in the build tree, so it can be looked at.
#include <png.h>

#include <gtest/gtest.h>

#include <vector>

#include "ferrox/framework/PackageLoader.h"
#include "tests/support/palette_bitmap.h"

namespace {

// The bitmap as 24 rows of RGB, top row first.
std::vector<std::uint8_t> Rgb(std::span<const std::uint8_t> bitmap) {
  std::vector<std::uint8_t> rgb;
  for (int y = 0; y < palette_bitmap::Side; ++y)
    for (int x = 0; x < palette_bitmap::Side; ++x) {
      auto colour = palette_bitmap::Rgb(bitmap, palette_bitmap::Index(bitmap, x, y));
      rgb.insert(rgb.end(), colour.begin(), colour.end());
    }
  return rgb;
}

TEST(PaletteIcon, RendersToAPngThatReadsBackAs24By24) {
  auto package = ferrox::framework::LoadPackage(FERROX_LIBRARY_PATH, ferrox::framework::PackageHost::Design);
  ASSERT_TRUE(package.ok()) << package.error().Text();
  auto bitmap = ferrox::framework::FindResource((*package)->Module(), "ferrox32");
  ASSERT_TRUE(bitmap && bitmap->size() == 392u);
  std::vector<std::uint8_t> rgb = Rgb(*bitmap);

  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = 24;
  image.height = 24;
  image.format = PNG_FORMAT_RGB;
  ASSERT_TRUE(png_image_write_to_file(&image, FERROX_ICON_PNG, 0, rgb.data(), 0, nullptr)) << image.message;

  png_image read{};
  read.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_file(&read, FERROX_ICON_PNG)) << read.message;
  read.format = PNG_FORMAT_RGB;
  std::vector<std::uint8_t> back(PNG_IMAGE_SIZE(read));
  ASSERT_TRUE(png_image_finish_read(&read, nullptr, back.data(), 0, nullptr)) << read.message;
  EXPECT_EQ(read.width, 24u);
  EXPECT_EQ(read.height, 24u);
  EXPECT_EQ(back, rgb);
}

}  // namespace

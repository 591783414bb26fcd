// Renders the package's palette icon to a PNG in the build tree, so it can be looked at.
#include <png.h>

#include <gtest/gtest.h>

#include <vector>

#include "framework/PackageLoader.h"

namespace {

// The 4-bit bitmap as 24 rows of RGB, top row first.
std::vector<std::uint8_t> Rgb(std::span<const std::uint8_t> bitmap) {
  std::span<const std::uint8_t> colours = bitmap.subspan(40, 64);
  std::span<const std::uint8_t> pixels = bitmap.subspan(104);
  std::vector<std::uint8_t> rgb;
  for (int y = 0; y < 24; ++y) {
    for (int x = 0; x < 24; ++x) {
      std::uint8_t packed = pixels[(23 - y) * 12 + x / 2];
      int index = x % 2 == 0 ? packed >> 4 : packed & 0x0F;
      rgb.insert(rgb.end(), {colours[4 * index + 2], colours[4 * index + 1], colours[4 * index]});
    }
  }
  return rgb;
}

TEST(PaletteIcon, RendersToAPngThatReadsBackAs24By24) {
  auto package = framework::LoadPackage(FERROX_LIBRARY_PATH, framework::PackageHost::Design);
  ASSERT_TRUE(package.ok()) << package.error().Text();
  auto bitmap = framework::FindResource((*package)->Module(), "ferrox32");
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

// The window mapping: the worked windows, the wrap-around of the difference, NaN and
// infinities, and the per-run table against map_window itself.
#include <gtest/gtest.h>

#include <limits>

#include "driver/window.h"

namespace {

struct WindowCase {
  const char* name;
  int32_t low, high, invert;
  std::vector<std::pair<uint16_t, int>> samples;  // sample, byte
};

}  // namespace

TEST(MapWindow, WorkedWindows) {
  std::vector<std::pair<uint16_t, int>> copy8, ramp16;
  for (int v = 0; v < 256; ++v) copy8.push_back({uint16_t(v), v});
  for (int k = 0; k < 256; ++k) ramp16.push_back({uint16_t(257 * k), k});
  std::vector<std::pair<uint16_t, int>> invert8;
  for (int v = 0; v < 256; ++v) invert8.push_back({uint16_t(v), 255 - v});
  invert8.push_back({256, 0});
  copy8.push_back({256, 255});
  copy8.push_back({65535, 255});
  const std::vector<WindowCase> cases = {
      {"100..1100", 100, 1100, 0, {{0, 0}, {100, 0}, {600, 127}, {1099, 254}, {1100, 255}, {65535, 255}}},
      {"100..1100 inverted", 100, 1100, 1, {{0, 255}, {100, 255}, {600, 127}, {1099, 0}, {1100, 0}, {65535, 0}}},
      {"0..255 copies", 0, 255, 0, copy8},
      {"0..255 inverted", 0, 255, 1, invert8},
      {"0..4095", 0, 4095, 0, {{16, 0}, {17, 1}, {4094, 254}, {4095, 255}}},
      {"0..65535", 0, 65535, 0, ramp16},
      {"500..500", 500, 500, 0, {{499, 0}, {500, 0}, {501, 255}}},
      {"500..500 inverted", 500, 500, 7, {{499, 255}, {500, 0}, {501, 0}}},
      {"1000..0", 1000, 0, 0, {{0, 255}, {500, 127}, {1000, 0}, {2000, 0}}},
      {"1000..0 inverted", 1000, 0, -1, {{0, 0}, {500, 127}, {1000, 255}, {2000, 255}}},
      // high - low wraps to -1, so the scale is -255; sample - low wraps negative as well.
      {"-2147483648..2147483647",
       std::numeric_limits<int32_t>::min(),
       std::numeric_limits<int32_t>::max(),
       0,
       {{0, 255}, {65535, 255}}},
      // high - low wraps to -2^31; 1 - low wraps to -2147483647, just short of 255.
      {"low -2147483648", std::numeric_limits<int32_t>::min(), 0, 0, {{0, 255}, {1, 254}}},
  };
  for (const WindowCase& c : cases) {
    SCOPED_TRACE(c.name);
    const WindowSettings settings = make_window_settings(c.low, c.high, c.invert);
    for (auto [sample, byte] : c.samples) EXPECT_EQ(map_window(settings, sample), byte) << "sample " << sample;
  }
}

TEST(MapWindow, ScaleIsDerivedFromTheWrappedDifference) {
  EXPECT_EQ(make_window_settings(100, 1100, 0).scale, 255.0 / 1000);
  EXPECT_EQ(make_window_settings(500, 500, 0).scale, std::numeric_limits<double>::infinity());
  EXPECT_EQ(make_window_settings(std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(), 0).scale,
            255.0 / -1.0);
}

TEST(WindowTable, EqualsMapWindowForEverySample) {
  const std::vector<std::array<int32_t, 3>> windows = {
      {0, 4095, 0},
      {100, 1100, 1},
      {500, 500, 0},
      {500, 500, 1},
      {1000, 0, 0},
      {-70000, 70000, 1},
      {std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(), 0},
      {0, 65535, 1},
      {3, 7, 0}};
  auto table = std::make_unique<WindowTable>();
  for (auto [low, high, invert] : windows) {
    const WindowSettings settings = make_window_settings(low, high, invert);
    fill_window_table(settings, *table);
    for (uint32_t s = 0; s < 65536; ++s)
      ASSERT_EQ(table->byte[s], map_window(settings, uint16_t(s))) << low << ".." << high << " sample " << s;
  }
}

TEST(MapImage, RowsLandAtRowTimesWidth) {
  SourceImage image;
  image.width = 3;
  image.height = 2;
  image.rows.samples = make_block<uint16_t>(6);
  image.rows.row_length = 3;
  for (int i = 0; i < 6; ++i) image.rows.samples[size_t(i)] = uint16_t(i * 50);
  auto table = std::make_unique<WindowTable>();
  fill_window_table(make_window_settings(0, 255, 0), *table);
  uint8_t buffer[8] = {9, 9, 9, 9, 9, 9, 9, 9};
  map_image(*table, image, buffer);
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 8), std::vector<uint8_t>({0, 50, 100, 150, 200, 250, 9, 9}));
}

TEST(MapImage, OverItsOwnRowsGivesWhatASeparateBufferGets) {
  // The first image's rows become the output buffer: each byte must land only over samples
  // already read, row after row.
  auto table = std::make_unique<WindowTable>();
  fill_window_table(make_window_settings(300, 40000, 1), *table);
  for (const int32_t width : {1, 2, 255, 256, 257, 700}) {
    for (const int32_t height : {1, 3}) {
      SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
      const size_t samples = size_t(width) * size_t(height);
      SourceImage image;
      image.width = width;
      image.height = height;
      image.rows.samples = make_block<uint16_t>(samples);
      image.rows.row_length = size_t(width);
      uint32_t seed = uint32_t(width * 31 + height);
      for (size_t i = 0; i < samples; ++i) image.rows.samples[i] = uint16_t((seed = seed * 1103515245u + 12345u) >> 11);
      std::vector<uint8_t> separate(samples);
      map_image(*table, image, separate.data());
      uint8_t* over_rows = reinterpret_cast<uint8_t*>(image.rows.samples.get());
      map_image(*table, image, over_rows);
      EXPECT_EQ(std::vector<uint8_t>(over_rows, over_rows + samples), separate);
    }
  }
}

#include "driver/window.h"

// Differences wrap modulo 2^32: formed in unsigned arithmetic, then read as signed.
static int32_t wrapping_difference(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

WindowSettings make_window_settings(int32_t low, int32_t high, int32_t invert) {
  WindowSettings settings{low, high, invert, 0.0};
  settings.scale = 255.0 / static_cast<double>(wrapping_difference(high, low));
  return settings;
}

uint8_t map_window(const WindowSettings& settings, uint16_t sample) {
  double x = static_cast<double>(wrapping_difference(sample, settings.low)) * settings.scale;
  if (settings.invert != 0) x = 255.0 - x;
  if (x > 255.0) x = 255.0;
  if (x < 0.0) x = 0.0;
  // Only 0 times an infinite scale is not a number; it passes both clamps and gives 0.
  if (!(x >= 0.0)) return 0;
  return static_cast<uint8_t>(x);
}

void fill_window_table(const WindowSettings& settings, WindowTable& table) {
  for (uint32_t sample = 0; sample < 65536; ++sample)
    table.byte[sample] = map_window(settings, static_cast<uint16_t>(sample));
}

// The buffer may lie over the rows themselves (the first image's rows become the output
// buffer): byte i is stored at or before the bytes of sample i, which has been read by then.
void map_image(const WindowTable& table, const SourceImage& image, uint8_t* buffer) {
  const std::size_t width = static_cast<std::size_t>(image.width);
  for (int32_t r = 0; r < image.height; ++r) {
    const uint16_t* row = image.rows.row(r);
    uint8_t* out = buffer + static_cast<std::size_t>(r) * width;
    for (std::size_t c = 0; c < width; ++c) out[c] = table.byte[row[c]];
  }
}

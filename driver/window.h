#pragma once
// The intensity window: a linear map of low..high onto 0..255, optionally reversed, clamped and
// truncated, in double precision exactly as written.

#include <cstddef>
#include <cstdint>

#include "reader/source_image.h"

struct WindowSettings {
  int32_t low = 0;     // sample value that maps to 0 (to 255 when inverted)
  int32_t high = 0;    // sample value that maps to 255 (to 0 when inverted)
  int32_t invert = 0;  // nonzero reverses the output scale
  double scale = 0.0;  // 255.0 / (high - low), the difference wrapping modulo 2^32
};

WindowSettings make_window_settings(int32_t low, int32_t high, int32_t invert);

uint8_t map_window(const WindowSettings& settings, uint16_t sample);

// map_window of every sample value, filled once per run.
struct WindowTable {
  uint8_t byte[65536];
};

void fill_window_table(const WindowSettings& settings, WindowTable& table);

// Maps every sample of image into buffer, row r at r * width.
void map_image(const WindowTable& table, const SourceImage& image, uint8_t* buffer);

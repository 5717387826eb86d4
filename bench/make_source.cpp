// Writes a 16-bit little-endian grayscale benchmark source through libtiff, uncompressed with
// libtiff's default strip size: smooth regions, texture and noise of about 12 significant bits.
//   make_source OUTPUT WIDTH HEIGHT SEED
#include <tiffio.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

static uint16_t sample_at(uint32_t x, uint32_t y, uint32_t width, uint32_t height, uint32_t& noise) {
  const double u = double(x) / width, v = double(y) / height;
  double value = 800 + 1800 * u + 600 * v;  // smooth ramps
  const double dx = u - 0.5, dy = v - 0.45;
  if (dx * dx / 0.12 + dy * dy / 0.16 < 1) value += 900;  // a bright region
  if ((dx + 0.15) * (dx + 0.15) + (dy - 0.1) * (dy - 0.1) < 0.004) value -= 1200;
  value += 180 * std::sin(u * 90) * std::cos(v * 70);  // texture
  noise = noise * 1664525u + 1013904223u;
  value += double(noise >> 26) - 32;  // noise, ~6 bits
  if (value < 0) value = 0;
  if (value > 4095) value = 4095;
  return uint16_t(value);  // 12 significant bits
}

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: make_source OUTPUT WIDTH HEIGHT SEED\n");
    return 2;
  }
  const uint32_t width = uint32_t(std::atol(argv[2])), height = uint32_t(std::atol(argv[3]));
  uint32_t noise = uint32_t(std::atol(argv[4]));
  TIFF* tif = TIFFOpen(argv[1], "wl");
  if (!tif) return 1;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
  std::vector<uint16_t> row(width);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) row[x] = sample_at(x, y, width, height, noise);
    if (TIFFWriteScanline(tif, row.data(), y, 0) < 0) return 1;
  }
  TIFFClose(tif);
  return 0;
}

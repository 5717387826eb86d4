// The strongest simple alternative: a converter written in an afternoon on libtiff.
// TIFFReadEncodedStrip per strip, a 65536-entry table, TIFFWriteEncodedStrip per row. Its
// outputs are byte for byte those of vandrel (same window arithmetic, fields and strips);
// it writes "b-NAME" where vandrel writes "o-NAME".
//   baseline LIST LOW HIGH [INVERT]
#include <tiffio.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

static uint8_t window(int32_t low, double scale, int32_t invert, uint16_t s) {
  double x = double(int32_t(uint32_t(s) - uint32_t(low))) * scale;
  if (invert) x = 255.0 - x;
  if (x > 255.0) x = 255.0;
  if (x < 0.0) x = 0.0;
  return x >= 0.0 ? uint8_t(x) : 0;
}

static bool convert(const char* name, const uint8_t* table) {
  TIFF* in = TIFFOpen(name, "r");
  if (!in) return false;
  uint32_t width = 0, height = 0;
  uint16_t bits = 1;
  TIFFGetField(in, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(in, TIFFTAG_IMAGELENGTH, &height);
  TIFFGetFieldDefaulted(in, TIFFTAG_BITSPERSAMPLE, &bits);
  char* text = nullptr;
  std::string description = TIFFGetField(in, TIFFTAG_IMAGEDESCRIPTION, &text) ? text : "convert image";
  std::vector<uint8_t> out(size_t(width) * height);
  std::vector<uint8_t> strip(size_t(TIFFStripSize(in)));
  size_t at = 0;
  for (uint32_t s = 0; s < TIFFNumberOfStrips(in); ++s) {
    tmsize_t got = TIFFReadEncodedStrip(in, s, strip.data(), tmsize_t(strip.size()));
    if (got < 0) return false;
    if (bits == 16) {
      const uint16_t* samples = reinterpret_cast<const uint16_t*>(strip.data());
      for (tmsize_t i = 0; i < got / 2; ++i) out[at++] = table[samples[i]];
    } else {
      for (tmsize_t i = 0; i < got; ++i) out[at++] = table[strip[size_t(i)]];
    }
  }
  TIFFClose(in);
  const std::string output = std::string("b-") + name;
  TIFF* o = TIFFOpen(output.c_str(), "wl");
  if (!o) return false;
  TIFFSetField(o, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(o, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(o, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(o, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
  TIFFSetField(o, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  TIFFSetField(o, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(o, TIFFTAG_ROWSPERSTRIP, 1);
  TIFFSetField(o, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(o, TIFFTAG_IMAGEDESCRIPTION, description.c_str());
  TIFFSetField(o, TIFFTAG_ARTIST, "Mavren");
  for (uint32_t r = 0; r < height; ++r) TIFFWriteEncodedStrip(o, r, out.data() + size_t(r) * width, width);
  TIFFClose(o);
  std::printf("%s -> %s \n", name, output.c_str());
  return true;
}

int main(int argc, char** argv) {
  if (argc < 4) return 1;
  const int32_t low = int32_t(std::strtol(argv[2], nullptr, 10)), high = int32_t(std::strtol(argv[3], nullptr, 10));
  const int32_t invert = argc == 5 ? int32_t(std::strtol(argv[4], nullptr, 10)) : 0;
  const double scale = 255.0 / double(int32_t(uint32_t(high) - uint32_t(low)));
  static uint8_t table[65536];
  for (uint32_t s = 0; s < 65536; ++s) table[s] = window(low, scale, invert, uint16_t(s));
  std::FILE* list = std::fopen(argv[1], "r");
  if (!list) return 246;
  char name[4096];
  while (std::fscanf(list, "%4095s", name) == 1)
    if (!convert(name, table)) return 1;
  return 0;
}

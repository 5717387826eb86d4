// Sources written by libtiff's tiffcp decode to exactly the samples that libtiff itself decodes
// from them, and convert end to end.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdlib>
#include <map>

#include "reader/source_image.h"
#include "sources/lzw_source.h"
#include "tests/support.h"

namespace {

// Smooth gradients, a ring texture and noise, at the given depth.
ImageSpec structured(int32_t width, int32_t height, int32_t bits, uint32_t seed) {
  ImageSpec image;
  image.width = width;
  image.height = height;
  image.bits = bits;
  image.little = false;
  const uint32_t top = (1u << bits) - 1;
  for (int32_t r = 0; r < height; ++r) {
    std::vector<uint16_t> row;
    for (int32_t c = 0; c < width; ++c) {
      seed = seed * 1664525u + 1013904223u;
      const double smooth = 0.5 + 0.25 * double(c) / width + 0.2 * double(r) / height;
      const double ring =
          ((c - width / 2) * (c - width / 2) + (r - height / 2) * (r - height / 2)) % 97 < 20 ? 0.05 : 0;
      const double noise = (double(seed >> 20) / 4096.0 - 0.5) * 0.02;
      double v = (smooth + ring + noise) * top;
      row.push_back(uint16_t(v < 0 ? 0 : v > top ? top : v));
    }
    image.rows.push_back(row);
  }
  return image;
}

ImageSpec noise8(int32_t width, int32_t height, uint32_t seed) {
  ImageSpec image;
  image.width = width;
  image.height = height;
  for (int32_t r = 0; r < height; ++r) {
    std::vector<uint16_t> row;
    for (int32_t c = 0; c < width; ++c) {
      seed = seed * 1664525u + 1013904223u;
      row.push_back(uint16_t(seed >> 24));
    }
    image.rows.push_back(row);
  }
  return image;
}

bool tiffcp(const std::string& options, const std::string& from, const std::string& to) {
  const std::string command = "tiffcp " + options + " '" + from + "' '" + to + "' 2>/dev/null";
  return std::system(command.c_str()) == 0;
}

std::vector<std::vector<uint16_t>> vandrel_samples(const std::string& path) {
  SourceImage image = read_source_image(path.c_str());
  std::vector<std::vector<uint16_t>> rows;
  for (int32_t r = 0; r < image.height; ++r) rows.emplace_back(image.rows.row(r), image.rows.row(r) + image.width);
  return rows;
}

void expect_same_samples(const std::string& path) {
  std::vector<std::vector<uint16_t>> reference = libtiff_samples(path);
  ASSERT_FALSE(reference.empty()) << path;
  try {
    EXPECT_TRUE(vandrel_samples(path) == reference) << path;
  } catch (const SourceFault& fault) {
    ADD_FAILURE() << fault.line;
  }
}

struct Variant {
  int32_t bits;
  std::string options;
};

void check_variants(const std::vector<Variant>& variants, int32_t width, int32_t height) {
  TempDir dir;
  std::map<int32_t, std::string> sources;
  for (const Variant& v : variants) {
    if (!sources.count(v.bits)) {
      sources[v.bits] = dir / ("source" + std::to_string(v.bits) + ".tif");
      write_file(sources[v.bits], build_tiff(image_tiff(structured(width, height, v.bits, uint32_t(v.bits)))));
      expect_same_samples(sources[v.bits]);
    }
    SCOPED_TRACE(std::to_string(v.bits) + " bits, tiffcp " + v.options);
    const std::string copy = dir / "copy.tif";
    ASSERT_TRUE(tiffcp(v.options, sources[v.bits], copy));
    expect_same_samples(copy);
  }
}

}  // namespace

TEST(Interop, UncompressedByteOrdersStripsAndFillOrders) {
  std::vector<Variant> variants;
  for (int32_t bits : {1, 4, 8, 12, 16})
    for (const char* order : {"-B", "-L"})
      for (const char* rows : {"", " -r 1", " -r 7", " -r 1000"})
        for (const char* fill : {"", " -f lsb2msb"}) variants.push_back({bits, std::string(order) + rows + fill});
  check_variants(variants, 123, 45);
}

TEST(Interop, LzwAndPackBits) {
  std::vector<Variant> variants;
  for (int32_t bits : {2, 8, 12, 16})
    for (const char* order : {"-B", "-L"})
      for (const char* rows : {"", " -r 1", " -r 5", " -r 64"}) {
        variants.push_back({bits, std::string(order) + rows + " -c lzw"});
        variants.push_back({bits, std::string(order) + rows + " -c packbits"});
        if (bits == 8 || bits == 16) variants.push_back({bits, std::string(order) + rows + " -c lzw:2"});
      }
  check_variants(variants, 600, 130);
}

namespace {

struct StripEnds {
  int narrow = 0;  // EndOfInformation at the width before the last code's entry
  int wide = 0;    // one bit wider, as libtiff writes it
};

// Decodes every strip of an LZW file by itself and classifies the strips whose last code
// raised the width by the width of their EndOfInformation code.
void classify_strip_ends(const std::string& path, StripEnds& ends) {
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  ASSERT_TRUE(tif);
  uint64_t *offsets = nullptr, *counts = nullptr;
  TIFFGetField(tif, TIFFTAG_STRIPOFFSETS, &offsets);
  TIFFGetField(tif, TIFFTAG_STRIPBYTECOUNTS, &counts);
  const uint32_t strips = TIFFNumberOfStrips(tif);
  uint32_t height = 0, per_strip = 0;
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
  TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &per_strip);
  const uint64_t row_bytes = uint64_t(TIFFScanlineSize64(tif));
  std::vector<std::pair<uint64_t, uint64_t>> table;
  for (uint32_t s = 0; s < strips; ++s) table.push_back({offsets[s], counts[s]});
  TIFFClose(tif);
  const Bytes file = read_file(path);
  source_file.file_name = path;
  ASSERT_TRUE(stream_open(source_file.stream, path.c_str()));
  for (uint32_t s = 0; s < strips; ++s) {
    const uint32_t rows = std::min(per_strip, height - s * per_strip);
    LzwSource::start(uint32_t(table[s].first), uint32_t(table[s].second));
    for (uint64_t i = 0; i < rows * row_bytes; ++i) LzwSource::next_byte();
    const LzwState& st = lzw_state;
    const bool raised = st.code_width > 9 && st.next_code == (1 << (st.code_width - 1)) - 1;
    const uint64_t consumed_bits = (table[s].second - source_file.strip_bytes_left) * 8 - uint64_t(st.bit_count);
    const int narrow_width = st.code_width - 1;
    LzwSource::finish();
    if (!raised) continue;
    uint32_t code = 0;
    for (int b = 0; b < narrow_width; ++b) {
      const uint64_t bit = consumed_bits + uint64_t(b);
      const uint8_t byte = file[table[s].first + bit / 8];
      code = (code << 1) | ((byte >> (7 - bit % 8)) & 1u);
    }
    (code == 257 || code == 256 ? ends.narrow : ends.wide)++;
  }
  stream_close(source_file.stream);
}

}  // namespace

TEST(Interop, LibtiffWritesTheWiderEndCodeAtEachWidthStep) {
  // Rows of noise whose code counts land on the width steps: one strip per row.
  TempDir dir;
  const std::vector<std::pair<int, std::vector<int32_t>>> steps = {
      {511, {256}}, {1023, {768}}, {2047, {1810, 1816, 1822}}};
  for (const auto& [step, widths] : steps) {
    SCOPED_TRACE(step);
    StripEnds ends;
    for (int32_t width : widths) {
      const std::string source = dir / "noise.tif", copy = dir / "noise-lzw.tif";
      write_file(source, build_tiff(image_tiff(noise8(width, 400, uint32_t(width)))));
      ASSERT_TRUE(tiffcp("-c lzw -r 1", source, copy));
      try {
        classify_strip_ends(copy, ends);
      } catch (const SourceFault& fault) {
        FAIL() << fault.line;
      }
      expect_same_samples(copy);
    }
    std::printf("next code %d: %d strips end on this width step, %d of them with the wider end code\n", step,
                ends.narrow + ends.wide, ends.wide);
    EXPECT_GT(ends.wide, 0);
  }
}

TEST(Interop, ConvertsEndToEnd) {
  TempDir dir;
  write_file(dir / "source.tif", build_tiff(image_tiff(structured(300, 70, 16, 9))));
  ASSERT_TRUE(tiffcp("-L -c lzw:2 -r 8", dir / "source.tif", dir / "lzw.tif"));
  ASSERT_TRUE(tiffcp("-B -c packbits -r 3", dir / "source.tif", dir / "packbits.tif"));
  write_file(dir / "list.txt",
             Bytes{'l', 'z', 'w', '.', 't', 'i', 'f', ' ', 'p', 'a', 'c', 'k', 'b', 'i', 't', 's', '.', 't', 'i', 'f'});
  ProgramResult r = run_program({vandrel_binary(), "list.txt", "30000", "60000"}, dir.path);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "lzw.tif -> o-lzw.tif \npackbits.tif -> o-packbits.tif \n");
  OutputTiff lzw = read_output(dir / "o-lzw.tif"), packbits = read_output(dir / "o-packbits.tif");
  EXPECT_EQ(lzw.pixels.size(), 300u * 70u);
  EXPECT_EQ(lzw.pixels, packbits.pixels);
}

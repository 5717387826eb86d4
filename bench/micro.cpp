// Micro-benchmarks in decoded MB/s: each strip source by itself, row assembly (a whole
// read_source_image), and libtiff decoding the same strips.
//   micro CORPUS [benchmark options]   (CORPUS as made by bench/run.sh)
#include <benchmark/benchmark.h>
#include <tiffio.h>

#include <string>
#include <vector>

#include "reader/source_image.h"
#include "sources/lzw_source.h"
#include "sources/packbits_source.h"
#include "sources/raw_source.h"

namespace {

struct StripTable {
  std::vector<uint64_t> offsets, counts;
};

StripTable strip_table(const std::string& path) {
  StripTable t;
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  uint64_t *offsets = nullptr, *counts = nullptr;
  TIFFGetField(tif, TIFFTAG_STRIPOFFSETS, &offsets);
  TIFFGetField(tif, TIFFTAG_STRIPBYTECOUNTS, &counts);
  for (uint32_t s = 0; s < TIFFNumberOfStrips(tif); ++s) {
    t.offsets.push_back(offsets[s]);
    t.counts.push_back(counts[s]);
  }
  TIFFClose(tif);
  return t;
}

template <class Source>
void decode_strips(benchmark::State& state, std::string path) {
  StripTable table = strip_table(path);
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  const uint64_t strip_size = uint64_t(TIFFStripSize64(tif));
  uint32_t height = 0, per_strip = 0;
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
  TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &per_strip);
  const uint64_t row_size = uint64_t(TIFFScanlineSize64(tif));
  TIFFClose(tif);
  source_file.file_name = path;
  stream_open(source_file.stream, path.c_str());
  uint64_t total = 0;
  for (auto _ : state) {
    total = 0;
    for (size_t s = 0; s < table.offsets.size(); ++s) {
      const uint64_t rows = std::min<uint64_t>(per_strip, height - s * per_strip);
      const uint64_t bytes = std::min(strip_size, rows * row_size);
      Source::start(uint32_t(table.offsets[s]), uint32_t(table.counts[s]));
      int32_t sink = 0;
      for (uint64_t i = 0; i < bytes; ++i) sink += Source::next_byte();
      Source::finish();
      benchmark::DoNotOptimize(sink);
      total += bytes;
    }
  }
  state.SetBytesProcessed(int64_t(total) * state.iterations());
}

void read_whole_image(benchmark::State& state, std::string path) {
  int64_t bytes = 0;
  for (auto _ : state) {
    SourceImage image = read_source_image(path.c_str());
    bytes = int64_t(image.width) * image.height * 2;
    benchmark::DoNotOptimize(image.rows.samples.get());
  }
  state.SetBytesProcessed(bytes * state.iterations());
}

void libtiff_strips(benchmark::State& state, std::string path) {
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  std::vector<uint8_t> strip(size_t(TIFFStripSize(tif)));
  int64_t bytes = 0;
  for (auto _ : state) {
    bytes = 0;
    for (uint32_t s = 0; s < TIFFNumberOfStrips(tif); ++s)
      bytes += TIFFReadEncodedStrip(tif, s, strip.data(), tmsize_t(strip.size()));
  }
  TIFFClose(tif);
  state.SetBytesProcessed(bytes * state.iterations());
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: micro CORPUS [benchmark options]\n");
    return 2;
  }
  const std::string corpus = argv[1];
  const std::string file = "/2048x2048-1.tif";
  const std::vector<std::pair<std::string, std::string>> sets = {
      {"none", corpus + "/2048-none" + file},
      {"lzw", corpus + "/2048-lzw" + file},
      {"lzw-predictor", corpus + "/2048-lzw-predictor" + file},
      {"packbits", corpus + "/2048-packbits" + file}};
  for (const auto& [name, path] : sets) {
    if (name == "none") benchmark::RegisterBenchmark(("source/raw/" + name).c_str(), decode_strips<RawSource>, path);
    if (name == "packbits")
      benchmark::RegisterBenchmark(("source/packbits/" + name).c_str(), decode_strips<PackBitsSource>, path);
    if (name.starts_with("lzw"))
      benchmark::RegisterBenchmark(("source/lzw/" + name).c_str(), decode_strips<LzwSource>, path);
    benchmark::RegisterBenchmark(("read_source_image/" + name).c_str(), read_whole_image, path);
    benchmark::RegisterBenchmark(("libtiff_strips/" + name).c_str(), libtiff_strips, path);
  }
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}

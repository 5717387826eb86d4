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

// Each strip's place in the file and the bytes its rows take, and the file opened as the source.
struct StripPlan {
  std::vector<uint64_t> offsets, counts, decoded;
  uint64_t total = 0;
};

StripPlan open_strips(const std::string& path) {
  StripPlan plan;
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  uint64_t *offsets = nullptr, *counts = nullptr;
  TIFFGetField(tif, TIFFTAG_STRIPOFFSETS, &offsets);
  TIFFGetField(tif, TIFFTAG_STRIPBYTECOUNTS, &counts);
  uint32_t height = 0, per_strip = 0;
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
  TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &per_strip);
  const uint64_t row_size = uint64_t(TIFFScanlineSize64(tif));
  for (uint32_t s = 0; s < TIFFNumberOfStrips(tif); ++s) {
    plan.offsets.push_back(offsets[s]);
    plan.counts.push_back(counts[s]);
    plan.decoded.push_back(std::min<uint64_t>(per_strip, height - s * per_strip) * row_size);
    plan.total += plan.decoded.back();
  }
  TIFFClose(tif);
  source_file.file_name = path;
  stream_open(source_file.stream, path.c_str());
  return plan;
}

// Every strip through next_byte, one request per byte.
template <class Source>
void decode_strips(benchmark::State& state, std::string path) {
  const StripPlan plan = open_strips(path);
  for (auto _ : state) {
    for (size_t s = 0; s < plan.offsets.size(); ++s) {
      Source::start(uint32_t(plan.offsets[s]), uint32_t(plan.counts[s]));
      int32_t sink = 0;
      for (uint64_t i = 0; i < plan.decoded[s]; ++i) sink += Source::next_byte();
      Source::finish();
      benchmark::DoNotOptimize(sink);
    }
  }
  state.SetBytesProcessed(int64_t(plan.total) * state.iterations());
}

// The same strips through next_bytes, in runs of 4096 bytes, as row assembly takes them.
template <class Source>
void decode_strip_runs(benchmark::State& state, std::string path) {
  const StripPlan plan = open_strips(path);
  std::vector<uint8_t> chunk(4096);
  for (auto _ : state) {
    for (size_t s = 0; s < plan.offsets.size(); ++s) {
      Source::start(uint32_t(plan.offsets[s]), uint32_t(plan.counts[s]));
      for (uint64_t left = plan.decoded[s]; left > 0;) {
        const uint64_t run = std::min<uint64_t>(left, chunk.size());
        Source::next_bytes(chunk.data(), run);
        left -= run;
      }
      Source::finish();
      benchmark::DoNotOptimize(chunk.data());
    }
  }
  state.SetBytesProcessed(int64_t(plan.total) * state.iterations());
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
    if (name == "packbits") {
      benchmark::RegisterBenchmark(("source/packbits/" + name).c_str(), decode_strips<PackBitsSource>, path);
      benchmark::RegisterBenchmark(("source_runs/packbits/" + name).c_str(), decode_strip_runs<PackBitsSource>, path);
    }
    if (name.starts_with("lzw")) {
      benchmark::RegisterBenchmark(("source/lzw/" + name).c_str(), decode_strips<LzwSource>, path);
      benchmark::RegisterBenchmark(("source_runs/lzw/" + name).c_str(), decode_strip_runs<LzwSource>, path);
    }
    benchmark::RegisterBenchmark(("read_source_image/" + name).c_str(), read_whole_image, path);
    benchmark::RegisterBenchmark(("libtiff_strips/" + name).c_str(), libtiff_strips, path);
  }
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}

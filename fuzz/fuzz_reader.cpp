// libFuzzer target: the reader and the strip sources on arbitrary bytes. Each input is written
// to an in-memory file and read as a source; a fault must come out as a SourceFault, anything
// else (a crash, a sanitizer report, a hang) is a finding.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include <vector>

#include "fuzz/source_fault.h"
#include "reader/borrowed_rows.h"
#include "reader/source_image.h"
#include "sources/source_file.h"

namespace {

// Images larger than this are only probed: their rows would make the fuzzer slow, and the
// resource tests cover them.
constexpr uint64_t max_fuzzed_samples = uint64_t{1} << 22;

const std::string& input_path() {
  static const std::string path = [] {
    int fd = memfd_create("vandrel-fuzz", 0);
    if (fd < 0) std::abort();
    return "/proc/self/fd/" + std::to_string(fd);
  }();
  return path;
}

void store_input(const uint8_t* data, size_t size) {
  std::FILE* file = std::fopen(input_path().c_str(), "wb");
  if (!file) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);
}

// The samples, or the fault; every sample must be right-aligned in its depth.
struct Outcome {
  std::string fault;
  std::vector<uint16_t> samples;
  bool operator==(const Outcome&) const = default;
};

Outcome read_outcome(const char* path, uint64_t borrow_from) {
  borrow_rows_from = borrow_from;
  Outcome outcome;
  try {
    SourceImage image = read_source_image(path);
    const uint32_t limit = image.bits_per_sample == 16 ? 65535u : (1u << image.bits_per_sample) - 1;
    for (int32_t r = 0; r < image.height; ++r)
      for (int32_t c = 0; c < image.width; ++c) {
        if (image.rows.row(r)[c] > limit) std::abort();
        outcome.samples.push_back(image.rows.row(r)[c]);
      }
  } catch (const SourceFault& fault) {
    outcome.fault = fault.message;
  }
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  store_input(data, size);
  // Every other input is read through mapped windows, the way large files are, and has its
  // rows mapped from the file where they can be; those must read as the copied rows do.
  static bool mapped_turn = true;
  mapped_turn = !mapped_turn;
  stream_map_above = mapped_turn ? 0 : stream_buffer_size;
  const char* path = input_path().c_str();
  try {
    int32_t width = 0, height = 0, bits = 0;
    std::unique_ptr<char[]> description;
    read_source_image(path, &width, &height, &bits, nullptr, &description);
    if (uint64_t(width) * uint64_t(height) > max_fuzzed_samples) return 0;
  } catch (const SourceFault&) {
    return 0;
  }
  const Outcome copied = read_outcome(path, UINT64_MAX);
  if (mapped_turn && !(read_outcome(path, 0) == copied)) std::abort();
  return 0;
}

#pragma once
// The source image reader: decodes the first image of a TIFF file into 16-bit samples.
// Every fault ends the run through fail_source with the reader's or a source's message.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "reader/block.h"

// The decoded samples: height rows of width samples, right-aligned, in machine byte order.
// One block, so that pages are touched only as rows are decoded. Rows stored in the file just
// as they are wanted are the file's own bytes, mapped read-only; only row assembly writes rows.
struct SampleRows {
  Block<uint16_t> samples;
  std::size_t row_length = 0;  // samples per row, the image's width

  const uint16_t* row(int32_t r) const { return samples.get() + static_cast<std::size_t>(r) * row_length; }
  uint16_t* writable_row(int32_t r) const { return samples.get() + static_cast<std::size_t>(r) * row_length; }
};

struct SourceImage {
  int32_t width = 0;            // 1 to 2147483647
  int32_t height = 0;           // 1 to 2147483647
  int32_t bits_per_sample = 0;  // 0 to 16
  SampleRows rows;
  std::unique_ptr<char[]> description;  // ImageDescription and a NUL, or null when absent
};

// Reads file_name. Each output place may be null; without rows the call only probes the
// attributes (and the description when that place is present).
void read_source_image(const char* file_name, int32_t* width, int32_t* height, int32_t* bits_per_sample,
                       SampleRows* rows, std::unique_ptr<char[]>* description);

// Reads the whole image with every place present.
SourceImage read_source_image(const char* file_name);

#include "reader/borrowed_rows.h"

#include <algorithm>
#include <bit>

namespace {

// The samples are the stored bytes exactly when nothing is unpacked, exchanged or summed.
bool stored_as_samples(const RowLayout& layout) {
  const bool file_order_is_machine_order = layout.little_endian == (std::endian::native == std::endian::little);
  return layout.bits_per_sample == 16 && layout.fill_order == 1 && layout.predictor_mask == 0 &&
         file_order_is_machine_order;
}

// The strips in order, each of exactly its rows' bytes, each starting where the one before ended.
bool strips_contiguous(const RowLayout& layout, const uint32_t* strip_offsets, const uint32_t* strip_byte_counts) {
  const uint64_t row_bytes = uint64_t{2} * static_cast<uint64_t>(layout.width);
  const uint64_t height = static_cast<uint64_t>(layout.height);
  const uint64_t per_strip = layout.rows_per_strip;
  uint64_t expected_offset = strip_offsets[0];
  for (uint64_t first_row = 0, strip = 0; first_row < height; first_row += per_strip, ++strip) {
    const uint64_t strip_bytes = std::min(per_strip, height - first_row) * row_bytes;
    if (strip_offsets[strip] != expected_offset || strip_byte_counts[strip] != strip_bytes) return false;
    expected_offset += strip_bytes;
  }
  return true;
}

}  // namespace

bool borrow_stored_rows(const RowLayout& layout, const uint32_t* strip_offsets, const uint32_t* strip_byte_counts,
                        const ByteStream& stream, SampleRows& rows) {
  const uint64_t samples = static_cast<uint64_t>(layout.width) * static_cast<uint64_t>(layout.height);
  const uint64_t bytes = samples * 2;
  const uint64_t first = strip_offsets[0];
  // An odd offset would leave the samples misaligned.
  if (bytes < borrow_rows_from || !stored_as_samples(layout) || first % 2 != 0) return false;
  if (first > stream.file_size || bytes > stream.file_size - first) return false;
  if (!strips_contiguous(layout, strip_offsets, strip_byte_counts)) return false;
  Block<uint16_t> mapped = map_file_block<uint16_t>(stream.fd, first, static_cast<std::size_t>(samples));
  if (!mapped) return false;
  catch_vanished_sources();
  rows.samples = std::move(mapped);
  return true;
}

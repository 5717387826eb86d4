#pragma once
// Row assembly: pulls the bytes of each strip from a strip source in step with the rows and
// turns them into 16-bit samples: whole-byte paths, the bit reader for both FillOrders, the
// byte exchange of little-endian 16-bit files and horizontal differencing.

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "reader/source_image.h"
#include "sources/strip_source.h"

struct RowLayout {
  int32_t width = 0;            // samples per row, at least 1
  int32_t height = 0;           // rows, at least 1
  int32_t bits_per_sample = 0;  // 0 to 16
  uint16_t fill_order = 1;      // 1: high bit first, 2: low bit first
  bool little_endian = false;   // file byte order
  uint16_t predictor_mask = 0;  // 0: no differencing, else 2^bits - 1
  uint32_t rows_per_strip = 1;  // at least 1, may exceed height
};

namespace row_assembly_detail {

inline constexpr std::array<uint8_t, 256> make_reversed_bits() {
  std::array<uint8_t, 256> table{};
  for (int value = 0; value < 256; ++value) {
    int reversed = 0;
    for (int bit = 0; bit < 8; ++bit)
      if (value & (1 << bit)) reversed |= 0x80 >> bit;
    table[value] = static_cast<uint8_t>(reversed);
  }
  return table;
}

inline constexpr std::array<uint8_t, 256> reversed_bits = make_reversed_bits();

using FillRow = void (*)(uint16_t* row, int32_t width, int32_t bits);

// Bytes taken per call from sources that deliver runs into a buffer of row assembly's own.
inline constexpr std::size_t bulk_chunk = 4096;

// The low 16 bits of the source's result: a -1 from a test source becomes 0xFFFF. Bytes that
// need no check are taken in runs.
template <StripSource Source>
void fill_row_8(uint16_t* row, int32_t width, int32_t) {
  int32_t c = 0;
  if constexpr (BulkStripSource<Source>) {
    uint8_t chunk[bulk_chunk];
    while (c < width) {
      const std::size_t run = std::min<std::size_t>(static_cast<std::size_t>(width - c), bulk_chunk);
      Source::next_bytes(chunk, run);
      for (std::size_t i = 0; i < run; ++i) row[c + static_cast<int32_t>(i)] = chunk[i];
      c += static_cast<int32_t>(run);
    }
  }
  for (; c < width; ++c) row[c] = static_cast<uint16_t>(Source::next_byte());
}

// One sample from two requests, first byte high; computed on signed values so that -1 reads as
// all ones.
template <StripSource Source, bool exchange>
uint16_t next_sample_16() {
  int32_t high = Source::next_byte();
  int32_t low = Source::next_byte();
  uint16_t sample = static_cast<uint16_t>(high * 256 | low);
  if constexpr (exchange) sample = static_cast<uint16_t>((sample << 8) | (sample >> 8));
  return sample;
}

template <StripSource Source, bool exchange>
void fill_row_16(uint16_t* row, int32_t width, int32_t) {
  int32_t c = 0;
  if constexpr (BulkStripSource<Source>) {
    // The stored bytes land where their samples go; each is then read in the right order.
    Source::next_bytes(reinterpret_cast<uint8_t*>(row), 2 * static_cast<std::size_t>(width));
    constexpr bool swap = exchange != (std::endian::native == std::endian::little);
    if constexpr (swap)
      for (int32_t i = 0; i < width; ++i) row[i] = static_cast<uint16_t>((row[i] << 8) | (row[i] >> 8));
    c = width;
  }
  for (; c < width; ++c) row[c] = next_sample_16<Source, exchange>();
}

// Takes samples of 1 to 16 bits, fetching a byte only when one of its bits is needed; under
// FillOrder 2 every byte is read with its bits reversed. The row's unused last bits are dropped.
template <StripSource Source, bool low_bit_first, bool exchange>
void fill_row_bits(uint16_t* row, int32_t width, int32_t bits) {
  uint32_t buffer = 0;
  int32_t buffered = 0;
  const uint32_t mask = (1u << bits) - 1;
  for (int32_t c = 0; c < width; ++c) {
    while (buffered < bits) {
      uint8_t byte = static_cast<uint8_t>(Source::next_byte());
      if constexpr (low_bit_first) byte = reversed_bits[byte];
      buffer = (buffer << 8) | byte;
      buffered += 8;
    }
    buffered -= bits;
    uint16_t sample = static_cast<uint16_t>((buffer >> buffered) & mask);
    if constexpr (exchange) sample = static_cast<uint16_t>((sample << 8) | (sample >> 8));
    row[c] = sample;
  }
}

inline void fill_row_zero(uint16_t* row, int32_t width, int32_t) {
  for (int32_t c = 0; c < width; ++c) row[c] = 0;
}

template <StripSource Source>
FillRow choose_fill_row(const RowLayout& layout) {
  const bool exchange = layout.little_endian && layout.bits_per_sample == 16;
  if (layout.bits_per_sample == 0) return fill_row_zero;
  if (layout.fill_order == 1) {
    if (layout.bits_per_sample == 8) return fill_row_8<Source>;
    if (layout.bits_per_sample == 16) return exchange ? fill_row_16<Source, true> : fill_row_16<Source, false>;
    return fill_row_bits<Source, false, false>;
  }
  return exchange ? fill_row_bits<Source, true, true> : fill_row_bits<Source, true, false>;
}

inline void undo_differencing(uint16_t* row, int32_t width, uint16_t mask) {
  uint16_t previous = row[0];
  for (int32_t c = 1; c < width; ++c) {
    previous = static_cast<uint16_t>((row[c] + previous) & mask);
    row[c] = previous;
  }
}

}  // namespace row_assembly_detail

// Fills every row of rows from the strips described by the two tables, starting each strip
// before its first row and finishing it right after its last.
template <StripSource Source>
void assemble_rows(const RowLayout& layout, const uint32_t* strip_offsets, const uint32_t* strip_byte_counts,
                   const SampleRows& rows) {
  using namespace row_assembly_detail;
  const FillRow fill_row = choose_fill_row<Source>(layout);
  const uint32_t per_strip = layout.rows_per_strip;
  const std::size_t row_bytes = rows.row_length * sizeof(uint16_t);
  BlockPreparer preparer(rows.samples, rows.row_length * static_cast<std::size_t>(layout.height));
  for (int32_t r = 0; r < layout.height; ++r) {
    preparer.prepare_through(static_cast<std::size_t>(r) * row_bytes + std::min(row_bytes, prepare_step));
    const uint32_t row_index = static_cast<uint32_t>(r);
    if (row_index % per_strip == 0) {
      const uint32_t strip = row_index / per_strip;
      Source::start(strip_offsets[strip], strip_byte_counts[strip]);
    }
    uint16_t* row = rows.writable_row(r);
    fill_row(row, layout.width, layout.bits_per_sample);
    if (r + 1 == layout.height || (row_index + 1) % per_strip == 0) Source::finish();
    if (layout.predictor_mask != 0) undo_differencing(row, layout.width, layout.predictor_mask);
  }
}

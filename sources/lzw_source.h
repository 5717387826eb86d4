#pragma once
// LZW strips as TIFF 6.0 defines them: 9- to 12-bit codes, high bit first, a leading Clear,
// early change of the width, and an EndOfInformation code right after the last data code.

#include <cstddef>

#include "sources/source_file.h"

inline constexpr int32_t lzw_clear_code = 256;
inline constexpr int32_t lzw_end_code = 257;
inline constexpr int32_t lzw_first_entry = 258;
inline constexpr int32_t lzw_table_size = 4096;
inline constexpr int32_t lzw_stack_size = 4097;

struct LzwState {
  uint32_t bit_buffer = 0;               // stored bytes shifted in at the low end; only the low bit_count
                                         // bits are unconsumed
  int32_t bit_count = 0;                 // unconsumed bits in bit_buffer, 0 to 19
  int32_t code_width = 9;                // width of the next code, 9 to 12
  uint32_t code_mask = 511;              // 2^code_width - 1
  int32_t next_code = lzw_first_entry;   // code of the next table entry, 258 to 4096 (full)
  int32_t prev_code = 0;                 // the data code decoded last, 0 to 4095
  int32_t stack_count = 0;               // bytes of the last string still to deliver, 0 to 4096
  uint16_t prefix[lzw_table_size];       // entry c: code of its string without the last byte
  uint8_t suffix[lzw_table_size];        // entry c: last byte of its string
  uint8_t string_stack[lzw_stack_size];  // the last string reversed: last byte at index 0
  // For the fast loop, every code below next_code: its string's length (1 to 4096) and its
  // first 8 bytes (fewer for a shorter string), the first byte lowest.
  uint16_t length[lzw_table_size];
  uint64_t head[lzw_table_size];

  LzwState() {
    for (int32_t c = 0; c < lzw_clear_code; ++c) {
      length[c] = 1;
      head[c] = static_cast<uint64_t>(c);
    }
  }
};

inline LzwState lzw_state;

// Decodes the next code and returns the first byte of its string (the rest goes on the stack).
int32_t lzw_decode_code();
// The same for a code already read and consumed.
int32_t lzw_decode_read_code(int32_t code);

// Entry `entry`: the string of code prev (the data code decoded last) followed by first_byte.
inline void lzw_make_entry(LzwState& s, int32_t entry, int32_t prev, uint8_t first_byte) {
  const uint32_t prev_length = s.length[prev];
  s.prefix[entry] = static_cast<uint16_t>(prev);
  s.suffix[entry] = first_byte;
  s.length[entry] = static_cast<uint16_t>(prev_length + 1);
  s.head[entry] = prev_length < 8 ? s.head[prev] | uint64_t{first_byte} << (8 * prev_length) : s.head[prev];
}

// Brings the bits of the next code of the given width into the buffer when the one or two
// bytes it needs are in both the strip and the stream's buffer; false when they are not, and
// the byte-by-byte way with its checks must take them.
inline bool lzw_take_code_bytes(LzwState& s, int32_t width) {
  if (s.bit_count >= width) return true;
  ByteStream& stream = source_file.stream;
  if (source_file.strip_bytes_left < 2 || stream_buffered(stream) < 2) return false;
  s.bit_buffer = (s.bit_buffer << 8) | *stream.next++;
  s.bit_count += 8;
  --source_file.strip_bytes_left;
  if (s.bit_count < width) {
    s.bit_buffer = (s.bit_buffer << 8) | *stream.next++;
    s.bit_count += 8;
    --source_file.strip_bytes_left;
  }
  return true;
}

// The common case inline: a single-byte code whose bits are at hand, with the table not full.
// Everything else goes the full way, with the same checks in the same order.
inline int32_t lzw_next_code_byte() {
  LzwState& s = lzw_state;
  const int32_t width = s.code_width;
  if (!lzw_take_code_bytes(s, width)) return lzw_decode_code();
  s.bit_count -= width;
  const int32_t code = static_cast<int32_t>((s.bit_buffer >> s.bit_count) & s.code_mask);
  const int32_t entry = s.next_code;
  if (code >= lzw_clear_code || entry == lzw_table_size) return lzw_decode_read_code(code);
  lzw_make_entry(s, entry, s.prev_code, static_cast<uint8_t>(code));
  s.next_code = entry + 1;
  if (static_cast<uint32_t>(entry + 1) == s.code_mask && width < 12) {
    s.code_width = width + 1;
    s.code_mask = (1u << (width + 1)) - 1;
  }
  s.prev_code = code;
  return code;
}

struct LzwSource {
  static void start(uint32_t offset, uint32_t byte_count);
  static int32_t next_byte() {
    LzwState& s = lzw_state;
    if (s.stack_count > 0) return s.string_stack[--s.stack_count];
    return lzw_next_code_byte();
  }
  static void finish();
  // Exactly what count calls of next_byte deliver, with the same codes taken and the same
  // faults; the common codes are decoded in a loop that keeps the state in registers.
  static void next_bytes(uint8_t* out, std::size_t count);
};

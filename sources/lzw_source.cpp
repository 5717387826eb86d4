#include "sources/lzw_source.h"

#include <algorithm>
#include <cstring>

#include "sources/messages.h"

namespace {

// Brings at least width unconsumed bits into the buffer; false when the strip has no more bytes.
bool try_fill_bits(LzwState& s, int32_t width) {
  while (s.bit_count < width) {
    if (source_file.strip_bytes_left == 0) return false;
    --source_file.strip_bytes_left;
    s.bit_buffer = (s.bit_buffer << 8) | take_file_byte();
    s.bit_count += 8;
  }
  return true;
}

// The same, where a missing byte is a fault.
void fill_bits(LzwState& s, int32_t width) {
  if (!try_fill_bits(s, width)) fail_source(msg::lzw_too_few_codes);
}

int32_t peek_code(const LzwState& s, int32_t width) {
  return static_cast<int32_t>((s.bit_buffer >> (s.bit_count - width)) & ((1u << width) - 1));
}

int32_t read_code(LzwState& s, int32_t width) {
  fill_bits(s, width);
  int32_t code = peek_code(s, width);
  s.bit_count -= width;
  return code;
}

// read_code at the current width, taking the bytes straight from the stream's buffer when it can.
int32_t read_data_code(LzwState& s) {
  const int32_t width = s.code_width;
  if (!lzw_take_code_bytes(s, width)) fill_bits(s, width);
  s.bit_count -= width;
  return static_cast<int32_t>((s.bit_buffer >> s.bit_count) & s.code_mask);
}

void reset_width(LzwState& s) {
  s.code_width = 9;
  s.code_mask = 511;
}

// The code after a Clear: a single byte, never an entry, EndOfInformation or another Clear.
int32_t decode_after_clear(LzwState& s) {
  reset_width(s);
  s.next_code = lzw_first_entry;
  int32_t code = read_code(s, 9);
  if (code == lzw_end_code) fail_source(msg::lzw_unexpected_end);
  if (code > lzw_end_code - 2) fail_source(msg::lzw_unknown_after_clear);
  s.prev_code = code;
  return code;
}

// Pushes the string of code (258 or more) from its last byte to its first; returns the count
// on the stack, which starts at depth.
int32_t push_chain(LzwState& s, int32_t code, int32_t depth) {
  while (code >= lzw_first_entry) {
    s.string_stack[depth++] = s.suffix[code];
    if (depth == lzw_stack_size) fail_source(msg::lzw_too_long_string);
    code = s.prefix[code];
  }
  s.string_stack[depth++] = static_cast<uint8_t>(code);
  return depth;
}

// Builds the string of code on the stack; returns its length.
int32_t build_string(LzwState& s, int32_t code) {
  if (code == s.next_code) {
    // The code being defined: the previous string followed by its own first byte.
    int32_t length = push_chain(s, s.prev_code, 1);
    s.string_stack[0] = s.string_stack[length - 1];
    return length;
  }
  if (code < lzw_clear_code) {
    s.string_stack[0] = static_cast<uint8_t>(code);
    return 1;
  }
  return push_chain(s, code, 0);
}

void add_entry(LzwState& s, uint8_t first_byte) {
  if (s.next_code == lzw_table_size) fail_source(msg::lzw_table_overflow);
  lzw_make_entry(s, s.next_code, s.prev_code, first_byte);
  ++s.next_code;
  if (static_cast<uint32_t>(s.next_code) == s.code_mask && s.code_width < 12) {
    ++s.code_width;
    s.code_mask = (1u << s.code_width) - 1;
  }
}

bool is_clear_or_end(int32_t code) { return code == lzw_clear_code || code == lzw_end_code; }

}  // namespace

void LzwSource::start(uint32_t offset, uint32_t byte_count) {
  LzwState& s = lzw_state;
  stream_seek(source_file.stream, offset);
  source_file.strip_bytes_left = byte_count;
  reset_width(s);
  s.bit_count = 0;
  fill_bits(s, 9);
  if (peek_code(s, 9) != lzw_clear_code) fail_source(msg::lzw_missing_first_clear);
  s.next_code = lzw_first_entry;
  s.stack_count = 0;
}

int32_t lzw_decode_code() { return lzw_decode_read_code(read_data_code(lzw_state)); }

int32_t lzw_decode_read_code(int32_t code) {
  LzwState& s = lzw_state;
  if (code == lzw_end_code) fail_source(msg::lzw_unexpected_end);
  if (code == lzw_clear_code) return decode_after_clear(s);
  if (code > s.next_code) fail_source(msg::lzw_too_large_code);
  int32_t length = build_string(s, code);
  uint8_t first_byte = s.string_stack[length - 1];
  add_entry(s, first_byte);
  s.prev_code = code;
  s.stack_count = length - 1;
  return first_byte;
}

// Encoders differ in the width of the EndOfInformation code after a last data code that raised
// the width: the width before that code's entry is tried first, then the raised one. The two
// readings cannot both be Clear or EndOfInformation, so the choice is never ambiguous.
void LzwSource::finish() {
  LzwState& s = lzw_state;
  const int32_t raised_width = s.code_width;
  bool stepped_back = false;
  if (s.next_code == (1 << (s.code_width - 1)) - 1) {
    --s.code_width;
    s.code_mask = static_cast<uint32_t>(s.next_code);
    stepped_back = true;
  }
  int32_t width = s.code_width;
  fill_bits(s, width);
  int32_t code = peek_code(s, width);
  if (!is_clear_or_end(code) && stepped_back && try_fill_bits(s, raised_width) &&
      is_clear_or_end(peek_code(s, raised_width))) {
    width = raised_width;
    code = peek_code(s, width);
  }
  s.bit_count -= width;
  if (code == lzw_clear_code) {
    reset_width(s);
    code = read_code(s, 9);
  }
  if (code != lzw_end_code) fail_source(msg::lzw_missing_end);
  if (s.stack_count != 0 || source_file.strip_bytes_left != 0) fail_source(msg::lzw_too_many_codes);
}

namespace {

uint64_t load_big_endian_64(const uint8_t* bytes) {
  uint64_t value;
  std::memcpy(&value, bytes, sizeof value);
  return __builtin_bswap64(value);
}

// Decodes single bytes and known table entries into out until count bytes are there or a code
// needs the full treatment (Clear, EndOfInformation, the code being defined, a fault, a full
// table, fewer than 8 stored bytes at hand); that code is left unread. Returns the bytes written.
//
// The stored bytes are loaded 8 at a time into a 64-bit window, high bit first. Bytes whose
// bits no consumed code used are given back at the end, so the strip has yielded exactly the
// bytes that reading the codes one by one would have taken.
std::size_t decode_common_codes(LzwState& s, uint8_t* out, std::size_t count) {
  if (s.bit_count >= 8) return 0;  // the unread Clear of a new strip
  ByteStream& stream = source_file.stream;
  const uint8_t* next = stream.next;
  const uint8_t* const limit = next + std::min<std::size_t>(source_file.strip_bytes_left, stream_buffered(stream));
  int32_t bits = s.bit_count;  // valid bits at the top of window
  uint64_t window = bits > 0 ? uint64_t{s.bit_buffer} << (64 - bits) : 0;
  int32_t width = s.code_width;
  uint32_t mask = s.code_mask;
  int32_t next_code = s.next_code;
  int32_t prev_code = s.prev_code;
  std::size_t i = 0;
  while (i < count && limit - next >= 8 && next_code != lzw_table_size) {
    window |= load_big_endian_64(next) >> bits;
    next += (63 - bits) >> 3;
    bits |= 56;
    const int32_t code = static_cast<int32_t>(window >> (64 - width));
    if (code == lzw_clear_code || code == lzw_end_code || code >= next_code) break;
    const uint8_t first_byte = static_cast<uint8_t>(s.head[code]);
    if (s.length[code] <= 8 && count - i >= 8) {
      std::memcpy(out + i, &s.head[code], 8);
      i += s.length[code];
    } else {
      const int32_t length = push_chain(s, code, 0);
      int32_t k = length;
      while (k > 0 && i < count) out[i++] = s.string_stack[--k];
      s.stack_count = k;
    }
    window <<= width;
    bits -= width;
    lzw_make_entry(s, next_code, prev_code, first_byte);
    ++next_code;
    if (static_cast<uint32_t>(next_code) == mask && width < 12) {
      ++width;
      mask = (1u << width) - 1;
    }
    prev_code = code;
    if (s.stack_count > 0) break;
  }
  next -= bits >> 3;
  bits &= 7;
  s.bit_count = bits;
  s.bit_buffer = bits > 0 ? static_cast<uint32_t>(window >> (64 - bits)) : 0;
  source_file.strip_bytes_left -= static_cast<uint32_t>(next - stream.next);
  stream.next = next;
  s.code_width = width;
  s.code_mask = mask;
  s.next_code = next_code;
  s.prev_code = prev_code;
  return i;
}

}  // namespace

void LzwSource::next_bytes(uint8_t* out, std::size_t count) {
  LzwState& s = lzw_state;
  std::size_t i = 0;
  while (i < count) {
    while (s.stack_count > 0 && i < count) out[i++] = s.string_stack[--s.stack_count];
    if (i == count) break;
    i += decode_common_codes(s, out + i, count - i);
    if (i < count && s.stack_count == 0) out[i++] = static_cast<uint8_t>(next_byte());
  }
}

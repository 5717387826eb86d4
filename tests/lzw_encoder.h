#pragma once
// A TIFF LZW encoder of the tests' own, with the choices real encoders differ in: the width of
// the EndOfInformation code after a last code that raised the width, a Clear before it, and
// when to start a new table.

#include <map>
#include <utility>

#include "tests/support.h"

struct LzwOptions {
  bool wide_end = false;          // EndOfInformation at the raised width, as libtiff writes it
  bool clear_before_end = false;  // a Clear directly before EndOfInformation
  int clear_at = 4096;            // start a new table once the decoder's next code reaches this
};

struct LzwStream {
  Bytes bytes;
  int codes = 0;                   // codes written, Clear and EndOfInformation included
  bool end_width_differs = false;  // the narrow and the wide EndOfInformation would differ
};

inline LzwStream lzw_encode(const Bytes& data, const LzwOptions& options = {}) {
  LzwStream out;
  uint64_t acc = 0;
  int bits = 0;
  auto emit = [&](uint32_t code, int width) {
    acc = (acc << width) | code;
    bits += width;
    ++out.codes;
    while (bits >= 8) {
      bits -= 8;
      out.bytes.push_back(uint8_t(acc >> bits));
    }
  };
  std::map<std::pair<int, uint8_t>, int> table;
  int width = 9, next_entry = 258, decoder_next = 258, last_width = 9;
  bool first = true;
  auto reset = [&] {
    table.clear();
    width = 9;
    next_entry = decoder_next = 258;
    first = true;
  };
  auto data_code = [&](int code) {
    last_width = width;
    emit(uint32_t(code), width);
    if (!first) {
      ++decoder_next;
      if (decoder_next == (1 << width) - 1 && width < 12) ++width;
    }
    first = false;
  };
  emit(256, 9);
  int w = -1;
  for (uint8_t c : data) {
    if (w < 0) {
      w = c;
      continue;
    }
    auto found = table.find({w, c});
    if (found != table.end()) {
      w = found->second;
      continue;
    }
    data_code(w);
    if (next_entry < 4096) table[{w, c}] = next_entry++;
    w = c;
    if (decoder_next >= options.clear_at) {
      emit(256, width);
      reset();
    }
  }
  if (w >= 0) data_code(w);
  const int end_width = options.wide_end ? width : last_width;
  out.end_width_differs = w >= 0 && width != last_width;
  if (options.clear_before_end) {
    emit(256, end_width);
    emit(257, 9);
  } else {
    emit(257, end_width);
  }
  if (bits > 0) out.bytes.push_back(uint8_t(acc << (8 - bits)));
  return out;
}

#pragma once
// PackBits strips: a header byte announces h + 1 literal bytes (h 0 to 127), 257 - h copies of
// one byte (h 129 to 255), or nothing (h 128). Runs may continue from one row to the next but
// not beyond the strip.

#include <algorithm>
#include <cstring>

#include "sources/messages.h"
#include "sources/source_file.h"

struct PackBitsState {
  int32_t run_state = 0;    // 0: next request reads a header; n > 0: n literal bytes to take;
                            // n < 0: -n more copies of repeat_byte; range -127 to 128
  uint8_t repeat_byte = 0;  // the byte of the current repeat run
};

inline PackBitsState packbits_state;

struct PackBitsSource {
  static uint8_t take_stored_byte() {
    if (source_file.strip_bytes_left == 0) fail_source(msg::mpb_too_few_codes);
    --source_file.strip_bytes_left;
    return take_file_byte();
  }
  static void start(uint32_t offset, uint32_t byte_count) {
    stream_seek(source_file.stream, offset);
    packbits_state.run_state = 0;
    source_file.strip_bytes_left = byte_count;
  }
  static int32_t next_byte() {
    PackBitsState& s = packbits_state;
    if (s.run_state < 0) {
      ++s.run_state;
      return s.repeat_byte;
    }
    if (s.run_state > 0) {
      --s.run_state;
      return take_stored_byte();
    }
    uint8_t header = take_stored_byte();
    while (header == 128) header = take_stored_byte();
    if (header > 128) {
      s.run_state = static_cast<int32_t>(header) - 256;
      s.repeat_byte = take_stored_byte();
      return s.repeat_byte;
    }
    s.run_state = header;
    return take_stored_byte();
  }
  static void finish() {
    if (packbits_state.run_state != 0 || source_file.strip_bytes_left != 0) fail_source(msg::mpb_too_many_codes);
  }
  // Exactly what count calls of next_byte deliver: repeats are filled and literal bytes already
  // in the stream's buffer copied in one step; headers and everything else go through next_byte.
  static void next_bytes(uint8_t* out, std::size_t count) {
    PackBitsState& s = packbits_state;
    std::size_t i = 0;
    while (i < count) {
      if (s.run_state < 0) {
        const std::size_t run = std::min(count - i, static_cast<std::size_t>(-s.run_state));
        std::memset(out + i, s.repeat_byte, run);
        s.run_state += static_cast<int32_t>(run);
        i += run;
        continue;
      }
      const std::size_t run =
          s.run_state == 0
              ? 0
              : std::min({count - i, static_cast<std::size_t>(s.run_state),
                          static_cast<std::size_t>(source_file.strip_bytes_left), stream_buffered(source_file.stream)});
      if (run == 0) {
        out[i++] = static_cast<uint8_t>(next_byte());
        continue;
      }
      std::memcpy(out + i, stream_take_buffered(source_file.stream, run), run);
      s.run_state -= static_cast<int32_t>(run);
      source_file.strip_bytes_left -= static_cast<uint32_t>(run);
      i += run;
    }
  }
};

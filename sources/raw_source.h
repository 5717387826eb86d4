#pragma once
// Uncompressed strips: the stored bytes pass through unchanged.

#include <algorithm>

#include "sources/messages.h"
#include "sources/source_file.h"

struct RawSource {
  static void start(uint32_t offset, uint32_t byte_count) {
    stream_seek(source_file.stream, offset);
    source_file.strip_bytes_left = byte_count;
  }
  static int32_t next_byte() {
    if (source_file.strip_bytes_left == 0) fail_source(msg::raw_too_few_codes);
    --source_file.strip_bytes_left;
    return take_file_byte();
  }
  static void finish() {
    if (source_file.strip_bytes_left != 0) fail_source(msg::raw_too_many_codes);
  }
  // Exactly what count calls of next_byte deliver, read in one block: the same bytes, the same
  // fault at the same byte, the same count of stored bytes taken.
  static void next_bytes(uint8_t* out, std::size_t count) {
    const std::size_t within = std::min<std::size_t>(count, source_file.strip_bytes_left);
    const std::size_t got = stream_read_block(source_file.stream, out, within);
    source_file.strip_bytes_left -= static_cast<uint32_t>(got);
    if (got < within) {
      --source_file.strip_bytes_left;
      fail_unexpected_end_of_file();
    }
    if (within < count) fail_source(msg::raw_too_few_codes);
  }
};

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
  // Bytes that next_byte would deliver without any check: inside the strip and already in the
  // stream's buffer. Row assembly takes them in one step; the rest goes through next_byte.
  static std::size_t ready_bytes() {
    return std::min<std::size_t>(source_file.strip_bytes_left, stream_buffered(source_file.stream));
  }
  static const uint8_t* take_ready(std::size_t count) {
    source_file.strip_bytes_left -= static_cast<uint32_t>(count);
    return stream_take_buffered(source_file.stream, count);
  }
};

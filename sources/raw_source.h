#pragma once
// Uncompressed strips: the stored bytes pass through unchanged.

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
};

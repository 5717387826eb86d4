#include "reader/directory.h"

#include "sources/source_file.h"

namespace {

uint16_t read_u16_little() {
  uint16_t b0 = take_file_byte();
  uint16_t b1 = take_file_byte();
  return static_cast<uint16_t>(b0 | (b1 << 8));
}

uint16_t read_u16_big() {
  uint16_t b0 = take_file_byte();
  uint16_t b1 = take_file_byte();
  return static_cast<uint16_t>((b0 << 8) | b1);
}

uint32_t read_u32_little() {
  uint32_t low = read_u16_little();
  uint32_t high = read_u16_little();
  return low | (high << 16);
}

uint32_t read_u32_big() {
  uint32_t high = read_u16_big();
  uint32_t low = read_u16_big();
  return (high << 16) | low;
}

void seek_to(uint64_t position) { stream_seek(source_file.stream, position); }

}  // namespace

void install_byte_order(bool little_endian) {
  source_file.read_u16 = little_endian ? read_u16_little : read_u16_big;
  source_file.read_u32 = little_endian ? read_u32_little : read_u32_big;
}

uint16_t find_tag(uint32_t directory_offset, uint16_t tag) {
  seek_to(directory_offset);
  const uint32_t entry_count = source_file.read_u16();
  for (uint32_t i = 0; i < entry_count; ++i) {
    if (source_file.read_u16() == tag) return source_file.read_u16();
    seek_to(stream_position(source_file.stream) + 10);
  }
  return tiff_type_absent;
}

uint16_t tag_short(uint32_t directory_offset, uint16_t tag, uint16_t default_value) {
  if (find_tag(directory_offset, tag) != tiff_type_short) return default_value;
  if (source_file.read_u32() != 1) return default_value;
  return source_file.read_u16();
}

uint32_t tag_short_or_long(uint32_t directory_offset, uint16_t tag, uint32_t default_value) {
  const uint16_t type = find_tag(directory_offset, tag);
  if (type != tiff_type_short && type != tiff_type_long) return default_value;
  if (source_file.read_u32() != 1) return default_value;
  return type == tiff_type_short ? source_file.read_u16() : source_file.read_u32();
}

TagArrayResult tag_array(uint32_t directory_offset, uint16_t tag, uint32_t expected_count, uint32_t* values) {
  const uint16_t type = find_tag(directory_offset, tag);
  if (type != tiff_type_short && type != tiff_type_long) return TagArrayResult::absent_or_unfit;
  if (source_file.read_u32() != expected_count) return TagArrayResult::count_differs;
  const uint32_t values_in_field = type == tiff_type_short ? 2 : 1;
  if (expected_count > values_in_field) seek_to(source_file.read_u32());
  for (uint32_t i = 0; i < expected_count; ++i)
    values[i] = type == tiff_type_short ? source_file.read_u16() : source_file.read_u32();
  return TagArrayResult::stored;
}

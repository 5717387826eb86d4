#pragma once
// Byte-order reads and the queries of the first image file directory. Every query walks the
// directory afresh from its offset; none keeps state or reports a fault of its own, but a read
// beyond the end of the file ends the run ("unexpected end of file.").

#include <cstdint>

inline constexpr uint16_t tiff_type_absent = 0;
inline constexpr uint16_t tiff_type_ascii = 2;
inline constexpr uint16_t tiff_type_short = 3;
inline constexpr uint16_t tiff_type_long = 4;

// Installs read_u16 and read_u32 of the source file for the given byte order.
void install_byte_order(bool little_endian);

// Field type of the first entry with tag, or 0 when there is none; after a non-zero result
// the stream stands at that entry's count.
uint16_t find_tag(uint32_t directory_offset, uint16_t tag);

// The value of a single SHORT, else default_value.
uint16_t tag_short(uint32_t directory_offset, uint16_t tag, uint16_t default_value);

// The value of a single SHORT (widened with zeros) or a single LONG, else default_value.
uint32_t tag_short_or_long(uint32_t directory_offset, uint16_t tag, uint32_t default_value);

enum class TagArrayResult { stored = 0, absent_or_unfit = 1, count_differs = 2 };

// Reads a SHORT or LONG array of exactly expected_count values into values.
TagArrayResult tag_array(uint32_t directory_offset, uint16_t tag, uint32_t expected_count, uint32_t* values);

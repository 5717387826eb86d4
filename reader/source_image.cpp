#include "reader/source_image.h"

#include <limits>
#include <new>

#include "reader/borrowed_rows.h"
#include "reader/directory.h"
#include "reader/row_assembly.h"
#include "sources/lzw_source.h"
#include "sources/messages.h"
#include "sources/packbits_source.h"
#include "sources/raw_source.h"
#include "sources/source_file.h"

namespace {

enum Tag : uint16_t {
  image_width = 256,
  image_length = 257,
  bits_per_sample_tag = 258,
  compression_tag = 259,
  photometric_tag = 262,
  fill_order_tag = 266,
  image_description = 270,
  strip_offsets_tag = 273,
  samples_per_pixel = 277,
  rows_per_strip_tag = 278,
  strip_byte_counts_tag = 279,
  planar_configuration = 284,
  predictor_tag = 317,
};

using AssembleRows = void (*)(const RowLayout&, const uint32_t*, const uint32_t*, const SampleRows&);

struct Attributes {
  uint32_t directory_offset = 0;
  RowLayout layout;
  AssembleRows assemble = nullptr;  // row assembly instantiated for the strip source
  bool uncompressed = false;        // Compression 1: the strips may be the rows themselves
};

// Opens the file and checks the header; installs the byte order; returns the directory offset.
uint32_t open_and_read_header(const char* file_name, bool& little_endian) {
  source_file.file_name = file_name;
  source_file.strip_bytes_left = 0;
  ByteStream& stream = source_file.stream;
  if (!stream_open(stream, file_name)) fail_source(msg::file_not_found);
  const int32_t first = stream_read_byte(stream);
  if (first != 'I' && first != 'M') fail_source(msg::bad_magic_number);
  little_endian = first == 'I';
  install_byte_order(little_endian);
  if (stream_read_byte(stream) != first) fail_source(msg::bad_magic_number);
  // A file that ends inside the magic number is not a TIFF file at all.
  if (stream.file_size < 4 || source_file.read_u16() != 42) fail_source(msg::bad_magic_number);
  return source_file.read_u32();
}

AssembleRows select_source(uint32_t directory_offset) {
  const uint16_t compression = tag_short(directory_offset, compression_tag, 1);
  if (compression == 1) return assemble_rows<RawSource>;
  if (compression == 5) return assemble_rows<LzwSource>;
  if (compression == 32773) return assemble_rows<PackBitsSource>;
  fail_source(msg::unknown_compression);
}

uint16_t predictor_mask(uint32_t directory_offset, int32_t bits) {
  const uint16_t predictor = tag_short(directory_offset, predictor_tag, 1);
  if (predictor == 1) return 0;
  if (predictor == 2) return static_cast<uint16_t>((1u << bits) - 1);
  fail_source(msg::unknown_predictor);
}

// The presence and range checks, in the order in which their messages take precedence.
Attributes check_attributes(uint32_t dir, bool little_endian) {
  Attributes a;
  a.directory_offset = dir;
  const uint32_t width = tag_short_or_long(dir, image_width, 0);
  if (width == 0) fail_source(msg::primary_attribute_not_found);
  const uint32_t height = tag_short_or_long(dir, image_length, 0);
  if (height == 0) fail_source(msg::primary_attribute_not_found);
  const uint16_t photometric = tag_short(dir, photometric_tag, 65535);
  if (photometric == 65535) fail_source(msg::primary_attribute_not_found);
  if (width > 2147483647u || height > 2147483647u) fail_source(msg::too_large_image_size);
  if (photometric != 0 && photometric != 1 && photometric != 3 && photometric != 4) fail_source(msg::bad_photometric);
  if (tag_short(dir, samples_per_pixel, 1) > 1) fail_source(msg::too_many_samples_per_pixel);
  const uint16_t bits = tag_short(dir, bits_per_sample_tag, 1);
  if (bits > 16) fail_source(msg::too_many_bits_per_sample);
  if (tag_short(dir, planar_configuration, 1) != 1) fail_source(msg::bad_planar_configuration);
  const uint16_t fill_order = tag_short(dir, fill_order_tag, 1);
  if (fill_order != 1 && fill_order != 2) fail_source(msg::bad_fill_order);
  a.assemble = select_source(dir);
  a.uncompressed = a.assemble == assemble_rows<RawSource>;
  a.layout.predictor_mask = predictor_mask(dir, bits);
  a.layout.width = static_cast<int32_t>(width);
  a.layout.height = static_cast<int32_t>(height);
  a.layout.bits_per_sample = bits;
  a.layout.fill_order = fill_order;
  a.layout.little_endian = little_endian;
  return a;
}

// The ImageDescription bytes and a NUL; null when the field is absent or not ASCII. A text cut
// short by the end of the file keeps the bytes that exist.
std::unique_ptr<char[]> read_description(uint32_t dir) {
  if (find_tag(dir, image_description) != tiff_type_ascii) return nullptr;
  const uint32_t count = source_file.read_u32();
  if (count > 4) stream_seek(source_file.stream, source_file.read_u32());
  // Bytes beyond the end of the file do not exist, so they get no memory either; the
  // count + 1 is formed in 64 bits and cannot wrap.
  const uint64_t position = stream_position(source_file.stream);
  const uint64_t available = source_file.stream.file_size > position ? source_file.stream.file_size - position : 0;
  const uint64_t kept = count < available ? count : available;
  std::unique_ptr<char[]> text(new (std::nothrow) char[static_cast<std::size_t>(kept) + 1]);
  if (!text) fail_source(msg::description_memory);
  const std::size_t got =
      stream_read_block(source_file.stream, reinterpret_cast<uint8_t*>(text.get()), static_cast<std::size_t>(kept));
  text[got] = '\0';
  return text;
}

// Largest sample block we ask the allocator for; beyond it no machine can hold the rows.
constexpr uint64_t max_sample_bytes = uint64_t{1} << 40;

// Reserves the rows without touching them: pages are used only as rows are decoded.
SampleRows allocate_rows(int32_t width, int32_t height) {
  const uint64_t samples = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
  if (samples > max_sample_bytes / sizeof(uint16_t) || samples > std::numeric_limits<std::size_t>::max() / 2)
    fail_source(msg::cell_memory);
  SampleRows rows;
  rows.samples = make_block<uint16_t>(static_cast<std::size_t>(samples));
  if (!rows.samples) fail_source(msg::cell_memory);
  rows.row_length = static_cast<std::size_t>(width);
  return rows;
}

std::unique_ptr<uint32_t[]> allocate_table(uint32_t entries, const char* message) {
  std::unique_ptr<uint32_t[]> table(new (std::nothrow) uint32_t[entries == 0 ? 1 : entries]);
  if (!table) fail_source(message);
  return table;
}

void read_strip_table(uint32_t dir, uint16_t tag, uint32_t strips, uint32_t* table, const char* absent,
                      const char* count_differs) {
  const TagArrayResult result = tag_array(dir, tag, strips, table);
  if (result == TagArrayResult::absent_or_unfit) fail_source(absent);
  if (result == TagArrayResult::count_differs) fail_source(count_differs);
}

void read_rows(Attributes& a, SampleRows& rows) {
  const uint32_t dir = a.directory_offset;
  const uint32_t height = static_cast<uint32_t>(a.layout.height);
  uint32_t per_strip = tag_short_or_long(dir, rows_per_strip_tag, height);
  if (per_strip == 0) per_strip = height;  // no rows per strip at all: the image is one strip
  a.layout.rows_per_strip = per_strip;
  const uint32_t strips = height / per_strip + (height % per_strip != 0 ? 1 : 0);
  auto offsets = allocate_table(strips, msg::strip_offset_memory);
  read_strip_table(dir, strip_offsets_tag, strips, offsets.get(), msg::strip_offset_not_found,
                   msg::bad_strip_offset_count);
  auto byte_counts = allocate_table(strips, msg::strip_bytes_memory);
  read_strip_table(dir, strip_byte_counts_tag, strips, byte_counts.get(), msg::strip_bytes_not_found,
                   msg::bad_strip_bytes_count);
  if (a.uncompressed && borrow_stored_rows(a.layout, offsets.get(), byte_counts.get(), source_file.stream, rows))
    return;
  a.assemble(a.layout, offsets.get(), byte_counts.get(), rows);
}

}  // namespace

void read_source_image(const char* file_name, int32_t* width, int32_t* height, int32_t* bits_per_sample,
                       SampleRows* rows, std::unique_ptr<char[]>* description) {
  bool little_endian = false;
  const uint32_t dir = open_and_read_header(file_name, little_endian);
  Attributes a = check_attributes(dir, little_endian);
  if (width) *width = a.layout.width;
  if (height) *height = a.layout.height;
  if (bits_per_sample) *bits_per_sample = a.layout.bits_per_sample;
  if (description) *description = read_description(dir);
  if (rows) {
    *rows = allocate_rows(a.layout.width, a.layout.height);
    read_rows(a, *rows);
  }
  stream_close(source_file.stream);
}

SourceImage read_source_image(const char* file_name) {
  SourceImage image;
  read_source_image(file_name, &image.width, &image.height, &image.bits_per_sample, &image.rows, &image.description);
  return image;
}

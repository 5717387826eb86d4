#pragma once
// Test support: TIFF files built byte by byte, a temporary folder, running the built program,
// and reading outputs back with libtiff.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// fail_source in the tests unwinds with this instead of ending the process.
struct SourceFault {
  std::string message;  // the message alone
  std::string line;     // "<file name> : <message>", as standard error shows it
};

// One directory entry. SHORT and LONG take numbers, every other type takes raw bytes.
// count defaults to the number of values (or raw bytes); value_field replaces the 4 bytes of
// the value field when set (to point at an offset of the test's choosing).
struct Field {
  uint16_t tag = 0;
  uint16_t type = 3;
  std::vector<uint32_t> values;
  Bytes raw;
  std::optional<uint32_t> count;
  std::optional<uint32_t> value_field;
};

Field short_field(uint16_t tag, std::vector<uint32_t> values);
Field long_field(uint16_t tag, std::vector<uint32_t> values);
Field ascii_field(uint16_t tag, const std::string& text_with_nul);

struct TiffSpec {
  bool little = true;
  std::vector<Field> fields;  // written in this order, unsorted if the test wishes
  std::vector<Bytes> strips;  // stored after the header
  bool strip_fields = true;   // append StripOffsets and StripByteCounts (LONG) for strips
};

Bytes build_tiff(const TiffSpec& tiff);

// A well-formed image of the accepted subset, from its samples.
struct ImageSpec {
  int32_t width = 1;
  int32_t height = 1;
  int32_t bits = 8;
  uint16_t fill_order = 1;
  uint16_t predictor = 1;
  uint16_t photometric = 1;
  uint32_t rows_per_strip = 0;  // 0: no RowsPerStrip field (one strip)
  bool little = true;
  std::optional<std::string> description;   // stored with its NUL
  std::vector<std::vector<uint16_t>> rows;  // height rows of width samples
};

// An 8-bit image whose samples all hold value.
ImageSpec uniform_image(int32_t width, int32_t height, uint16_t value);

// Packs one row as stored: differenced when predictor is 2, bits high first, 16-bit samples in
// the file's byte order, then the bits of each byte reversed under FillOrder 2.
Bytes pack_row(const std::vector<uint16_t>& row, int32_t bits, uint16_t fill_order, bool little, uint16_t predictor);

// The fields and the uncompressed strips of an image.
TiffSpec image_tiff(const ImageSpec& image);
std::vector<Bytes> image_strips(const ImageSpec& image);

void write_file(const std::string& path, const Bytes& bytes);
// The temporary outputs (".vandrel-XXXXXX") anywhere below folder.
std::vector<std::string> temporary_outputs(const std::string& folder);
Bytes read_file(const std::string& path);
bool file_exists(const std::string& path);

struct TempDir {
  std::string path;
  TempDir();
  ~TempDir();
  std::string operator/(const std::string& name) const { return path + "/" + name; }
};

struct ProgramResult {
  int status = -1;  // exit status 0 to 255, or -1 when killed by a signal
  int signal = 0;
  std::string out;
  std::string err;
  long max_rss_kib = 0;  // peak resident memory of the child
  bool timed_out = false;
};

// Runs the program with its arguments in directory; standard input is empty.
ProgramResult run_program(const std::vector<std::string>& argv, const std::string& directory,
                          double timeout_seconds = 60, const std::string& shell_prefix = "");

std::string vandrel_binary();

// An output image read back with libtiff.
struct OutputTiff {
  bool opened = false;
  uint32_t width = 0, height = 0, rows_per_strip = 0, strips = 0;
  uint16_t bits = 0, compression = 0, photometric = 0, samples = 0, planar = 0;
  bool little = false;
  std::optional<std::string> description, artist;
  Bytes pixels;  // every strip in order
  std::vector<uint64_t> strip_bytes;
};

OutputTiff read_output(const std::string& path);

// Samples of a source decoded by libtiff itself, one 16-bit value per sample.
std::vector<std::vector<uint16_t>> libtiff_samples(const std::string& path);

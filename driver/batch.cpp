#include "driver/batch.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <string>

#include "driver/output_image.h"
#include "driver/window.h"
#include "reader/block.h"
#include "reader/source_image.h"

namespace {

struct ListFile {
  std::FILE* file = nullptr;
  ~ListFile() {
    if (file) std::fclose(file);
  }
};

// Opens the list file; a directory cannot be read as one and counts as not openable.
bool open_list(ListFile& list, const char* path) {
  list.file = std::fopen(path, "r");
  if (!list.file) return false;
  struct stat status {};
  return ::fstat(fileno(list.file), &status) == 0 && !S_ISDIR(status.st_mode);
}

bool is_space(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// The next white-space separated name, of any length, as "%s" takes it; false at the end of
// the list (a read error counts as its end).
bool read_name(std::FILE* list, std::string& name) {
  name.clear();
  int c = getc_unlocked(list);
  while (c != EOF && is_space(c)) c = getc_unlocked(list);
  while (c != EOF && !is_space(c)) {
    name.push_back(static_cast<char>(c));
    c = getc_unlocked(list);
  }
  return !name.empty();
}

// The output buffer: made at the first image, grown when a later image has more samples.
struct OutputBuffer {
  Block<uint8_t> bytes;
  uint64_t capacity = 0;
};

bool reserve_output(OutputBuffer& output, int32_t width, int32_t height) {
  const uint64_t samples = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
  if (samples <= output.capacity) return true;
  if (samples > std::numeric_limits<std::size_t>::max()) return false;
  output.bytes.reset();
  output.capacity = 0;
  output.bytes = make_block<uint8_t>(static_cast<std::size_t>(samples));
  if (!output.bytes) return false;
  // The whole buffer is written for this image, so its pages may all come in at once.
  BlockPreparer(output.bytes, static_cast<std::size_t>(samples)).prepare_through(static_cast<std::size_t>(samples));
  output.capacity = samples;
  return true;
}

// The first image's rows, when they are a large writable block, become the output buffer: each
// byte is mapped over the samples it comes from, which spares the pages of a second block.
bool rows_can_be_output(const OutputBuffer& output, const SampleRows& rows) {
  const BlockRelease& release = rows.samples.get_deleter();
  return output.capacity == 0 && rows.samples && !release.file_mapped && block_from_kernel(release.bytes);
}

// The half of the rows' pages beyond the mapped bytes goes back at once.
void adopt_rows_as_output(OutputBuffer& output, SampleRows& rows, std::size_t mapped_bytes) {
  const BlockRelease release = rows.samples.get_deleter();
  output.bytes = Block<uint8_t>(reinterpret_cast<uint8_t*>(rows.samples.release()), release);
  output.capacity = release.bytes;
  return_block_pages(output.bytes.get(), release.bytes, mapped_bytes);
}

std::size_t image_samples(const SourceImage& image) {
  return static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
}

// Maps the image into the output buffer and releases its rows; false when the buffer cannot be had.
bool map_into_output(const WindowTable& table, SourceImage& image, OutputBuffer& output) {
  const bool adopt = rows_can_be_output(output, image.rows);
  if (!adopt && !reserve_output(output, image.width, image.height)) return false;
  map_image(table, image, adopt ? reinterpret_cast<uint8_t*>(image.rows.samples.get()) : output.bytes.get());
  if (adopt) adopt_rows_as_output(output, image.rows, image_samples(image));
  // The rows are done with: their pages go back now, where the output file's pages can use
  // them, rather than after the write.
  image.rows.samples.reset();
  return true;
}

constexpr char usage[] = "usage : vandrel inputfile low high (1 for invert)\n";

}  // namespace

int32_t parse_argument(const char* text) {
  const long value = std::strtol(text, nullptr, 10);
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(value);
}

int run_vandrel(int argc, char** argv) {
  if (argc < 4) {
    std::fputs(usage, stderr);
    return 1;
  }
  const int32_t low = parse_argument(argv[2]);
  const int32_t high = parse_argument(argv[3]);
  const int32_t invert = argc == 5 ? parse_argument(argv[4]) : 0;
  ListFile list;
  if (!open_list(list, argv[1])) {
    std::printf("cannot open %s \n", argv[1]);
    return -10;
  }
  std::string name;
  if (!read_name(list.file, name)) return 0;
  const WindowSettings settings = make_window_settings(low, high, invert);
  auto table = std::make_unique<WindowTable>();
  fill_window_table(settings, *table);
  prepare_output_writing();
  OutputBuffer output;
  int status = 0;
  do {
    SourceImage image = read_source_image(name.c_str());
    if (!map_into_output(*table, image, output)) {
      std::fprintf(stderr, "%s : output memory allocation error.\n", name.c_str());
      return 1;
    }
    const std::string output_name = "o-" + name;
    if (write_output_image(output_name.c_str(), image.width, image.height, output.bytes.get(),
                           image.description.get())) {
      std::printf("%s -> %s \n", name.c_str(), output_name.c_str());
    } else {
      status = 1;
    }
  } while (read_name(list.file, name));
  return status;
}

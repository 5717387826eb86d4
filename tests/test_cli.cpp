// The built vandrel as a user runs it: arguments, list files, progress lines, messages, exit
// statuses and the output files, read back with libtiff.
#include <gtest/gtest.h>

#include <filesystem>

#include "driver/batch.h"
#include "tests/support.h"

namespace {

ImageSpec gray8(int32_t width, int32_t height, uint16_t seed = 0) {
  ImageSpec image;
  image.width = width;
  image.height = height;
  for (int32_t r = 0; r < height; ++r) {
    std::vector<uint16_t> row;
    for (int32_t c = 0; c < width; ++c) row.push_back(uint16_t((r * 31 + c * 7 + seed) % 256));
    image.rows.push_back(row);
  }
  return image;
}

void write_image(const TempDir& dir, const std::string& name, const ImageSpec& image) {
  write_file(dir / name, build_tiff(image_tiff(image)));
}

void write_list(const TempDir& dir, const std::string& text) {
  write_file(dir / "list.txt", Bytes(text.begin(), text.end()));
}

ProgramResult vandrel(const TempDir& dir, std::vector<std::string> args, const std::string& prefix = "") {
  args.insert(args.begin(), vandrel_binary());
  return run_program(args, dir.path, 60, prefix);
}

Bytes expected_bytes(const ImageSpec& image, int32_t low, int32_t high, bool invert) {
  Bytes out;
  for (const auto& row : image.rows)
    for (uint16_t s : row) {
      double x =
          double(int32_t(uint32_t(s) - uint32_t(low))) * (255.0 / double(int32_t(uint32_t(high) - uint32_t(low))));
      if (invert) x = 255.0 - x;
      x = x > 255.0 ? 255.0 : x;
      x = x < 0.0 ? 0.0 : x;
      out.push_back(x >= 0.0 ? uint8_t(x) : 0);
    }
  return out;
}

}  // namespace

TEST(CommandLine, ArgumentsReadAsBaseTenConversionReadsThem) {
  struct Case {
    const char* text;
    int32_t value;
  };
  const std::vector<Case> cases = {{"12", 12},
                                   {"  +7", 7},
                                   {"-5", -5},
                                   {"abc", 0},
                                   {"12abc", 12},
                                   {"", 0},
                                   {"99999999999", 2147483647},
                                   {"-99999999999", -2147483647 - 1},
                                   {"2147483648", 2147483647},
                                   {"0x10", 0},
                                   {"\t\n 42", 42}};
  for (const Case& c : cases) EXPECT_EQ(parse_argument(c.text), c.value) << "'" << c.text << "'";
}

TEST(CommandLine, UsageAndListFileFaults) {
  TempDir dir;
  write_list(dir, "");
  const std::string usage = "usage : vandrel inputfile low high (1 for invert)\n";
  for (std::vector<std::string> args : {std::vector<std::string>{}, {"list.txt", "0"}, {"missing.txt", "0"}}) {
    ProgramResult r = vandrel(dir, args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, usage);
    EXPECT_EQ(r.out, "");
  }
  ProgramResult missing = vandrel(dir, {"missing.txt", "0", "255"});
  EXPECT_EQ(missing.status, 246);  // -10
  EXPECT_EQ(missing.out, "cannot open missing.txt \n");
  EXPECT_EQ(missing.err, "");
  std::filesystem::create_directory(dir / "folder");
  ProgramResult folder = vandrel(dir, {"folder", "0", "255"});
  EXPECT_EQ(folder.status, 246);
  EXPECT_EQ(folder.out, "cannot open folder \n");
  for (const char* text : {"", " \n\t\v\f\r  \n"}) {
    write_list(dir, text);
    ProgramResult empty = vandrel(dir, {"list.txt", "0", "255"});
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.out + empty.err, "");
  }
}

TEST(CommandLine, InvertOnlyAsTheLastOfFourArguments) {
  TempDir dir;
  ImageSpec image;
  image.width = 3;
  image.rows = {{0, 100, 255}};
  write_image(dir, "a.tif", image);
  write_list(dir, "a.tif");
  struct Case {
    std::vector<std::string> extra;
    Bytes pixels;
  };
  const Bytes plain = {0, 100, 255}, inverted = {255, 155, 0};
  const std::vector<Case> cases = {{{}, plain},    {{"1"}, inverted}, {{"7"}, inverted},   {{"-1"}, inverted},
                                   {{"0"}, plain}, {{"yes"}, plain},  {{"1", "x"}, plain}, {{" 3rd"}, inverted}};
  for (const Case& c : cases) {
    std::vector<std::string> args = {"list.txt", "0", "255"};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    ProgramResult r = vandrel(dir, args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_output(dir / "o-a.tif").pixels, c.pixels) << (c.extra.empty() ? "" : c.extra[0]);
  }
}

TEST(Conversion, EveryFieldAndByteOfTheOutput) {
  TempDir dir;
  ImageSpec image;
  image.width = 5;
  image.height = 3;
  image.bits = 16;
  image.little = false;
  image.rows_per_strip = 2;
  image.photometric = 0;  // WhiteIsZero is written as BlackIsZero, unchanged
  image.description = "scan 17";
  image.rows = {{0, 100, 600, 1099, 1100}, {65535, 101, 1000, 5, 700}, {150, 160, 170, 180, 190}};
  write_image(dir, "a.tif", image);
  write_list(dir, "a.tif\n");
  ProgramResult r = vandrel(dir, {"list.txt", "100", "1100"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "a.tif -> o-a.tif \n");
  EXPECT_EQ(r.err, "");
  OutputTiff out = read_output(dir / "o-a.tif");
  ASSERT_TRUE(out.opened);
  EXPECT_TRUE(out.little);
  EXPECT_EQ(out.width, 5u);
  EXPECT_EQ(out.height, 3u);
  EXPECT_EQ(out.bits, 8);
  EXPECT_EQ(out.compression, 1);
  EXPECT_EQ(out.photometric, 1);
  EXPECT_EQ(out.samples, 1);
  EXPECT_EQ(out.rows_per_strip, 1u);
  EXPECT_EQ(out.planar, 1);
  EXPECT_EQ(out.strips, 3u);
  EXPECT_EQ(out.strip_bytes, std::vector<uint64_t>({5, 5, 5}));
  EXPECT_EQ(out.description, "scan 17");
  EXPECT_EQ(out.artist, "Mavren");
  EXPECT_EQ(out.pixels, Bytes({0, 0, 127, 254, 255, 255, 0, 229, 0, 153, 12, 15, 17, 20, 22}));
  EXPECT_EQ(out.pixels, expected_bytes(image, 100, 1100, false));
}

TEST(Conversion, DefaultDescriptionAndOneSampleImage) {
  TempDir dir;
  ImageSpec one;
  one.rows = {{200}};
  write_image(dir, "one.tif", one);
  ImageSpec empty_text = gray8(2, 2);
  empty_text.description = "";
  write_image(dir, "empty.tif", empty_text);
  write_list(dir, "one.tif empty.tif");
  ProgramResult r = vandrel(dir, {"list.txt", "0", "255"});
  ASSERT_EQ(r.status, 0) << r.err;
  OutputTiff out = read_output(dir / "o-one.tif");
  EXPECT_EQ(out.description, "convert image");
  EXPECT_EQ(out.strip_bytes, std::vector<uint64_t>({1}));
  EXPECT_EQ(out.pixels, Bytes({200}));
  EXPECT_EQ(read_output(dir / "o-empty.tif").description.value_or("absent"), "");
}

TEST(Conversion, ListOrderRepeatsAndLayout) {
  TempDir dir;
  ImageSpec big = gray8(8, 6, 1), small = gray8(3, 2, 2), same_count = gray8(6, 8, 3), bigger = gray8(20, 9, 4);
  write_image(dir, "big.tif", big);
  write_image(dir, "small.tif", small);
  write_image(dir, "same.tif", same_count);
  write_image(dir, "bigger.tif", bigger);
  // Names on one line or several, separated by any white space; a name twice is converted twice.
  write_list(dir, "big.tif small.tif\n\tsame.tif\r\n\fbigger.tif\vsmall.tif");
  ProgramResult r = vandrel(dir, {"list.txt", "0", "255"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "big.tif -> o-big.tif \nsmall.tif -> o-small.tif \nsame.tif -> o-same.tif \n"
            "bigger.tif -> o-bigger.tif \nsmall.tif -> o-small.tif \n");
  for (auto [name, image] : std::vector<std::pair<std::string, ImageSpec>>{
           {"big", big}, {"small", small}, {"same", same_count}, {"bigger", bigger}}) {
    OutputTiff out = read_output(dir / ("o-" + name + ".tif"));
    EXPECT_EQ(out.width, uint32_t(image.width)) << name;
    EXPECT_EQ(out.pixels, expected_bytes(image, 0, 255, false)) << name;
  }
}

TEST(Conversion, SecondNameBadStopsTheRun) {
  TempDir dir;
  write_image(dir, "a.tif", gray8(4, 4));
  write_file(dir / "b.tif", {'n', 'o', 't', ' ', 'a', ' ', 't', 'i', 'f'});
  write_image(dir, "c.tif", gray8(4, 4));
  write_list(dir, "a.tif b.tif c.tif");
  ProgramResult r = vandrel(dir, {"list.txt", "0", "255"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "a.tif -> o-a.tif \n");
  EXPECT_EQ(r.err, "b.tif : bad magic number.\n");
  EXPECT_TRUE(file_exists(dir / "o-a.tif"));
  EXPECT_FALSE(file_exists(dir / "o-b.tif"));
  EXPECT_FALSE(file_exists(dir / "o-c.tif"));
}

TEST(Conversion, FaultLinesAsTheUserSeesThem) {
  struct Case {
    const char* name;
    Bytes bytes;
    const char* line;
  };
  ImageSpec image = gray8(3, 2);
  TiffSpec short_strip = image_tiff(image);
  short_strip.strips[0].pop_back();
  TiffSpec truncated_strip = image_tiff(image);
  Bytes truncated = build_tiff(truncated_strip);
  // Point the strip beyond the end of the file.
  TiffSpec beyond = image_tiff(image);
  beyond.strip_fields = false;
  beyond.fields.push_back(long_field(273, {100000}));
  beyond.fields.push_back(long_field(279, {6}));
  const std::vector<Case> cases = {
      {"missing.tif", {}, "missing.tif : file not found.\n"},
      {"short.tif", build_tiff(short_strip), "short.tif : too few codes.\n"},
      {"beyond.tif", build_tiff(beyond), "beyond.tif : unexpected end of file.\n"},
      {"cut.tif", Bytes(truncated.begin(), truncated.begin() + 20), "cut.tif : unexpected end of file.\n"},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.bytes.empty()) write_file(dir / c.name, c.bytes);
    write_list(dir, c.name);
    ProgramResult r = vandrel(dir, {"list.txt", "0", "255"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.line);
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(file_exists(dir / (std::string("o-") + c.name)));
  }
}

TEST(Conversion, NamesOfAnyLengthAndDirectories) {
  TempDir dir;
  const std::string long_name = std::string(200, 'n') + ".tif";
  const std::string longest = std::string(249, 'm') + ".tif";  // output name of 255 bytes
  std::filesystem::create_directory(dir / "scans");
  std::filesystem::create_directory(dir / "o-scans");
  write_image(dir, long_name, gray8(2, 2));
  write_image(dir, longest, gray8(2, 3));
  write_image(dir, "scans/a.tif", gray8(3, 3));
  write_list(dir, long_name + " " + longest + " scans/a.tif");
  ProgramResult r = vandrel(dir, {"list.txt", "0", "255"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, long_name + " -> o-" + long_name + " \n" + longest + " -> o-" + longest +
                       " \nscans/a.tif -> o-scans/a.tif \n");
  EXPECT_EQ(read_output(dir / ("o-" + long_name)).pixels, expected_bytes(gray8(2, 2), 0, 255, false));
  EXPECT_EQ(read_output(dir / ("o-" + longest)).height, 3u);
  EXPECT_TRUE(read_output(dir / "o-scans/a.tif").opened);
  EXPECT_TRUE(temporary_outputs(dir.path).empty());
}

TEST(Conversion, FailedOutputWritesAreReportedAndTheRunGoesOn) {
  TempDir dir;
  std::filesystem::create_directory(dir / "scans");
  write_image(dir, "scans/a.tif", gray8(3, 3));
  write_image(dir, "b.tif", gray8(3, 3));
  write_list(dir, "scans/a.tif b.tif");
  ProgramResult r = vandrel(dir, {"list.txt", "0", "255"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "b.tif -> o-b.tif \n");
  EXPECT_EQ(r.err, "TIFFOpen: o-scans/a.tif: No such file or directory.\n");
  EXPECT_TRUE(read_output(dir / "o-b.tif").opened);
}

TEST(Conversion, WriteFailingPartWayLeavesOlderOutputUntouched) {
  TempDir dir;
  write_image(dir, "big.tif", gray8(200, 200));
  write_image(dir, "small.tif", gray8(4, 4));
  const Bytes older = {'o', 'l', 'd'};
  write_file(dir / "o-big.tif", older);
  write_list(dir, "big.tif small.tif");
  // A file-size limit of 16 KiB: the 40000-byte output cannot be completed.
  ProgramResult r = vandrel(dir, {"list.txt", "0", "255"}, "ulimit -f 32;");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out, "small.tif -> o-small.tif \n");
  EXPECT_TRUE(r.err.ends_with("o-big.tif: File too large.\n")) << r.err;
  EXPECT_EQ(read_file(dir / "o-big.tif"), older);
  EXPECT_TRUE(read_output(dir / "o-small.tif").opened);
  EXPECT_TRUE(temporary_outputs(dir.path).empty());
}

TEST(Conversion, SizesAbove32767) {
  TempDir dir;
  ImageSpec wide = gray8(40000, 2);
  write_image(dir, "wide.tif", wide);
  ImageSpec tall = gray8(1, 40000);
  tall.rows_per_strip = 5000;
  write_image(dir, "tall.tif", tall);
  write_list(dir, "wide.tif tall.tif");
  ProgramResult r = vandrel(dir, {"list.txt", "0", "255", "1"});
  ASSERT_EQ(r.status, 0) << r.err;
  OutputTiff out = read_output(dir / "o-wide.tif");
  EXPECT_EQ(out.width, 40000u);
  EXPECT_EQ(out.height, 2u);
  EXPECT_EQ(out.strip_bytes, std::vector<uint64_t>({40000, 40000}));
  EXPECT_EQ(out.pixels, expected_bytes(wide, 0, 255, true));
  OutputTiff tall_out = read_output(dir / "o-tall.tif");
  EXPECT_EQ(tall_out.height, 40000u);
  EXPECT_EQ(tall_out.strips, 40000u);
  EXPECT_EQ(tall_out.pixels, expected_bytes(tall, 0, 255, true));
}

TEST(Conversion, LargeImagesWhoseRowsServeAsTheOutputBufferOrAreMappedFromTheFile) {
  // 4096 x 4096 samples take 32 MiB of rows: the first such image's rows become the output
  // buffer, later images are mapped into them; 16-bit little-endian strips are mapped from the
  // file as rows, and then the output buffer is a block of its own.
  TempDir dir;
  const ImageSpec big = gray8(4096, 4096, 1), more = gray8(4096, 4100, 2), small = gray8(3, 2, 3);
  ImageSpec wide16 = gray8(8192, 2048, 4);
  wide16.bits = 16;
  for (auto& row : wide16.rows)
    for (uint16_t& s : row) s = uint16_t(s + 30);
  wide16.rows_per_strip = 16;
  write_image(dir, "big.tif", big);
  write_image(dir, "more.tif", more);
  write_image(dir, "small.tif", small);
  write_image(dir, "wide16.tif", wide16);
  const std::vector<std::pair<std::string, std::vector<std::pair<std::string, const ImageSpec*>>>> runs = {
      {"rows first", {{"big", &big}, {"more", &more}, {"small", &small}, {"wide16", &wide16}}},
      {"mapped first", {{"wide16", &wide16}, {"big", &big}, {"small", &small}}},
  };
  for (const auto& [run_name, images] : runs) {
    SCOPED_TRACE(run_name);
    std::string list;
    for (const auto& [name, image] : images) list += name + ".tif\n";
    write_list(dir, list);
    ProgramResult r = vandrel(dir, {"list.txt", "0", "255", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const auto& [name, image] : images) {
      OutputTiff out = read_output(dir / ("o-" + name + ".tif"));
      EXPECT_EQ(out.height, uint32_t(image->height)) << name;
      EXPECT_TRUE(out.pixels == expected_bytes(*image, 0, 255, true)) << name;
    }
  }
}

// read_source_image on files built here: every attribute message and the order in which the
// checks are taken up, the description, the strip tables, and files cut short.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <functional>

#include "reader/source_image.h"
#include "sources/source_file.h"
#include "tests/support.h"

namespace {

// A valid 2 x 3 image of 8 bits in one uncompressed strip.
TiffSpec valid_spec(bool little = true) {
  ImageSpec image;
  image.width = 2;
  image.height = 3;
  image.little = little;
  image.rows = {{1, 2}, {3, 4}, {5, 6}};
  return image_tiff(image);
}

void remove_tag(TiffSpec& tiff, uint16_t tag) {
  std::erase_if(tiff.fields, [tag](const Field& f) { return f.tag == tag; });
}

void set_field(TiffSpec& tiff, Field field) {
  for (Field& f : tiff.fields)
    if (f.tag == field.tag) {
      f = std::move(field);
      return;
    }
  tiff.fields.insert(tiff.fields.begin(), std::move(field));
}

// The fault message of reading bytes as a source, or "" when the read passes.
std::string read_fault(const TempDir& dir, const Bytes& bytes, bool take_rows = true) {
  const std::string path = dir / "s.tif";
  write_file(path, bytes);
  try {
    if (take_rows) {
      read_source_image(path.c_str());
    } else {
      int32_t w, h, b;
      std::unique_ptr<char[]> d;
      read_source_image(path.c_str(), &w, &h, &b, nullptr, &d);
    }
  } catch (const SourceFault& fault) {
    EXPECT_EQ(fault.line, path + " : " + fault.message);
    return fault.message;
  }
  return "";
}

struct AttributeCase {
  const char* name;
  std::function<void(TiffSpec&)> edit;
  const char* message;
};

}  // namespace

TEST(ReadSourceImage, AttributeChecksInOrder) {
  const std::vector<AttributeCase> cases = {
      {"valid", [](TiffSpec&) {}, ""},
      {"width absent", [](TiffSpec& s) { remove_tag(s, 256); }, "primary image attribute not found."},
      {"width SHORT count 2",
       [](TiffSpec& s) {
         set_field(s, short_field(256, {2, 2}));
       },
       "primary image attribute not found."},
      {"width ASCII", [](TiffSpec& s) { set_field(s, ascii_field(256, "2\0")); }, "primary image attribute not found."},
      {"width 0", [](TiffSpec& s) { set_field(s, long_field(256, {0})); }, "primary image attribute not found."},
      {"height absent", [](TiffSpec& s) { remove_tag(s, 257); }, "primary image attribute not found."},
      {"photometric LONG", [](TiffSpec& s) { set_field(s, long_field(262, {1})); },
       "primary image attribute not found."},
      {"photometric 65535", [](TiffSpec& s) { set_field(s, short_field(262, {65535})); },
       "primary image attribute not found."},
      {"presence before size",
       [](TiffSpec& s) {
         set_field(s, long_field(256, {2147483648u}));
         remove_tag(s, 262);
       },
       "primary image attribute not found."},
      {"width 2^31", [](TiffSpec& s) { set_field(s, long_field(256, {2147483648u})); }, "too large image size."},
      {"height 2^32-1", [](TiffSpec& s) { set_field(s, long_field(257, {4294967295u})); }, "too large image size."},
      {"RGB",
       [](TiffSpec& s) {
         set_field(s, short_field(262, {2}));
         set_field(s, short_field(277, {3}));
       },
       "bad photometric interpretation."},
      {"photometric 5", [](TiffSpec& s) { set_field(s, short_field(262, {5})); }, "bad photometric interpretation."},
      {"WhiteIsZero", [](TiffSpec& s) { set_field(s, short_field(262, {0})); }, ""},
      {"palette", [](TiffSpec& s) { set_field(s, short_field(262, {3})); }, ""},
      {"mask", [](TiffSpec& s) { set_field(s, short_field(262, {4})); }, ""},
      {"samples 2", [](TiffSpec& s) { set_field(s, short_field(277, {2})); }, "too many samples per pixel."},
      {"samples 0", [](TiffSpec& s) { set_field(s, short_field(277, {0})); }, ""},
      {"bits 17", [](TiffSpec& s) { set_field(s, short_field(258, {17})); }, "too many bits per sample."},
      {"samples before bits",
       [](TiffSpec& s) {
         set_field(s, short_field(258, {17}));
         set_field(s, short_field(277, {3}));
       },
       "too many samples per pixel."},
      {"planar 2", [](TiffSpec& s) { set_field(s, short_field(284, {2})); }, "bad planar configuration."},
      {"fill order 0", [](TiffSpec& s) { set_field(s, short_field(266, {0})); }, "bad fill order."},
      {"fill order 3", [](TiffSpec& s) { set_field(s, short_field(266, {3})); }, "bad fill order."},
      {"compression 7", [](TiffSpec& s) { set_field(s, short_field(259, {7})); }, "unknown image compression method."},
      {"compression before predictor",
       [](TiffSpec& s) {
         set_field(s, short_field(259, {7}));
         set_field(s, short_field(317, {3}));
       },
       "unknown image compression method."},
      {"compression 5 as LONG is absent", [](TiffSpec& s) { set_field(s, long_field(259, {5})); }, ""},
      {"predictor 3", [](TiffSpec& s) { set_field(s, short_field(317, {3})); }, "unknown differencing predictor."},
      {"tiled: no strip offsets", [](TiffSpec& s) { s.strip_fields = false; }, "strip offset not found."},
      {"strip offsets ASCII",
       [](TiffSpec& s) {
         s.strip_fields = false;
         s.fields.push_back(ascii_field(273, "x\0"));
       },
       "strip offset not found."},
      {"no strip byte counts",
       [](TiffSpec& s) {
         s.strip_fields = false;
         s.fields.push_back(long_field(273, {8}));
       },
       "strip bytes count not found."},
      {"RowsPerStrip 1 wants 3 offsets", [](TiffSpec& s) { set_field(s, long_field(278, {1})); },
       "bad number of strip offset."},
      {"RowsPerStrip SHORT count 2 is absent",
       [](TiffSpec& s) {
         set_field(s, short_field(278, {1, 1}));
       },
       ""},
      {"RowsPerStrip 0 is absent", [](TiffSpec& s) { set_field(s, long_field(278, {0})); }, ""},
      {"RowsPerStrip 4294967295", [](TiffSpec& s) { set_field(s, long_field(278, {4294967295u})); }, ""},
      {"RowsPerStrip above height", [](TiffSpec& s) { set_field(s, short_field(278, {50})); }, ""},
      {"strip too short", [](TiffSpec& s) { s.strips[0].pop_back(); }, "too few codes."},
      {"strip too long", [](TiffSpec& s) { s.strips[0].push_back(0); }, "too many codes."},
      {"compression 32773 selects PackBits", [](TiffSpec& s) { set_field(s, short_field(259, {32773})); },
       "MPB too few codes."},
      {"compression 5 selects LZW", [](TiffSpec& s) { set_field(s, short_field(259, {5})); },
       "LZW missing first clear code."},
  };
  TempDir dir;
  for (bool little : {true, false})
    for (const AttributeCase& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (little ? " little" : " big"));
      TiffSpec tiff = valid_spec(little);
      c.edit(tiff);
      EXPECT_EQ(read_fault(dir, build_tiff(tiff)), c.message);
    }
}

TEST(ReadSourceImage, StripCountsFollowRowsPerStrip) {
  // Height 10 with 3 rows per strip: 4 strips.
  ImageSpec image;
  image.width = 1;
  image.height = 10;
  image.rows_per_strip = 3;
  for (int r = 0; r < 10; ++r) image.rows.push_back({uint16_t(r)});
  TempDir dir;
  TiffSpec tiff = image_tiff(image);
  EXPECT_EQ(read_fault(dir, build_tiff(tiff)), "");
  TiffSpec three_offsets = tiff;
  three_offsets.strip_fields = false;
  three_offsets.fields.push_back(long_field(273, {8, 9, 10}));
  three_offsets.fields.push_back(long_field(279, {3, 3, 3, 1}));
  EXPECT_EQ(read_fault(dir, build_tiff(three_offsets)), "bad number of strip offset.");
  TiffSpec five_counts = tiff;
  five_counts.strip_fields = false;
  five_counts.fields.push_back(long_field(273, {8, 11, 14, 17}));
  five_counts.fields.push_back(long_field(279, {3, 3, 3, 1, 0}));
  EXPECT_EQ(read_fault(dir, build_tiff(five_counts)), "bad number of strip bytes count.");
  TiffSpec short_tables = tiff;
  short_tables.strip_fields = false;
  short_tables.fields.push_back(short_field(273, {8, 11, 14, 17}));
  short_tables.fields.push_back(short_field(279, {3, 3, 3, 1}));
  EXPECT_EQ(read_fault(dir, build_tiff(short_tables)), "");
}

TEST(ReadSourceImage, HeaderFaults) {
  struct Case {
    const char* name;
    Bytes bytes;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"empty", {}, "bad magic number."},
      {"three bytes", {'I', 'I', 42}, "bad magic number."},
      {"IM", {'I', 'M', 42, 0, 8, 0, 0, 0}, "bad magic number."},
      {"43", {'I', 'I', 43, 0, 8, 0, 0, 0}, "bad magic number."},
      {"big 42 in a little file", {'I', 'I', 0, 42, 8, 0, 0, 0}, "bad magic number."},
      {"not a TIFF", {'P', 'K', 3, 4, 0, 0, 0, 0}, "bad magic number."},
      {"four bytes", {'M', 'M', 0, 42}, "unexpected end of file."},
      {"directory beyond the end", {'I', 'I', 42, 0, 100, 0, 0, 0}, "unexpected end of file."},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(read_fault(dir, c.bytes), c.message);
  }
  try {
    read_source_image((dir / "missing.tif").c_str());
    ADD_FAILURE();
  } catch (const SourceFault& fault) {
    EXPECT_EQ(fault.message, "file not found.");
  }
  try {
    read_source_image(dir.path.c_str());
    ADD_FAILURE();
  } catch (const SourceFault& fault) {
    EXPECT_EQ(fault.message, "file not found.");
  }
}

TEST(ReadSourceImage, Descriptions) {
  struct Case {
    const char* name;
    std::optional<Field> field;
    std::optional<std::string> expected;
  };
  Field long_text = ascii_field(270, std::string("hello, world\0", 13));
  Field embedded_nul = ascii_field(270, std::string("ab\0cd\0", 6));
  Field four = ascii_field(270, std::string("abc\0", 4));
  Field five = ascii_field(270, std::string("abcd\0", 5));
  Field zero = Field{270, 2, {}, {}, 0u, {}};
  Field no_nul = ascii_field(270, "xyz");
  Field wrong_type = short_field(270, {65});
  const std::vector<Case> cases = {
      {"absent", std::nullopt, std::nullopt},          {"at an offset", long_text, "hello, world"},
      {"ends at an embedded NUL", embedded_nul, "ab"}, {"count 4 in the value field", four, "abc"},
      {"count 5 at an offset", five, "abcd"},          {"count 0", zero, ""},
      {"stored without its NUL", no_nul, "xyz"},       {"not ASCII", wrong_type, std::nullopt},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TiffSpec tiff = valid_spec();
    if (c.field) set_field(tiff, *c.field);
    write_file(dir / "d.tif", build_tiff(tiff));
    SourceImage image = read_source_image((dir / "d.tif").c_str());
    ASSERT_EQ(image.description != nullptr, c.expected.has_value());
    if (c.expected) {
      EXPECT_EQ(std::string(image.description.get()), *c.expected);
    }
  }
}

TEST(ReadSourceImage, DescriptionCutShortByTheEndOfTheFile) {
  TempDir dir;
  TiffSpec tiff = valid_spec();
  Field text = ascii_field(270, "abcdefgh");
  text.count = 4294967295u;  // count + 1 must not wrap to 0
  set_field(tiff, text);
  // Point the text at three bytes appended to the file.
  tiff.fields[0].value_field = uint32_t(build_tiff(tiff).size());
  Bytes bytes = build_tiff(tiff);
  bytes.insert(bytes.end(), {'X', 'Y', 'Z'});
  const std::string path = dir / "d.tif";
  write_file(path, bytes);
  SourceImage image = read_source_image(path.c_str());
  ASSERT_TRUE(image.description);
  EXPECT_STREQ(image.description.get(), "XYZ");
}

TEST(ReadSourceImage, ProbeWithoutRowsSkipsTheStripChecks) {
  TempDir dir;
  TiffSpec tiff = valid_spec(false);
  tiff.strip_fields = false;
  set_field(tiff, ascii_field(270, std::string("probe\0", 6)));
  EXPECT_EQ(read_fault(dir, build_tiff(tiff), false), "");
  EXPECT_EQ(read_fault(dir, build_tiff(tiff), true), "strip offset not found.");
  int32_t w = 0, h = 0, b = 0;
  std::unique_ptr<char[]> d;
  read_source_image((dir / "s.tif").c_str(), &w, &h, &b, nullptr, &d);
  EXPECT_EQ(w, 2);
  EXPECT_EQ(h, 3);
  EXPECT_EQ(b, 8);
  EXPECT_STREQ(d.get(), "probe");
  // Absent places are simply not written.
  read_source_image((dir / "s.tif").c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
}

TEST(ReadSourceImage, HugeClaimsFailAtOnce) {
  TempDir dir;
  struct Case {
    const char* name;
    std::function<void(TiffSpec&)> edit;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"2^31-1 squared samples",
       [](TiffSpec& s) {
         set_field(s, long_field(256, {2147483647u}));
         set_field(s, long_field(257, {2147483647u}));
       },
       "cell memory allocation error."},
      {"2^31-1 strips of one row",
       [](TiffSpec& s) {
         set_field(s, long_field(257, {2147483647u}));
         set_field(s, long_field(278, {1}));
         s.strip_fields = false;
         Field offsets = long_field(273, {});
         offsets.count = 2147483647u;
         offsets.value_field = 8;
         s.fields.push_back(offsets);
       },
       "unexpected end of file."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TiffSpec tiff = valid_spec();
    c.edit(tiff);
    EXPECT_EQ(read_fault(dir, build_tiff(tiff)), c.message);
  }
}

TEST(SourceStream, FileShrinkingUnderItsMappingIsTheEndOfTheFile) {
  TempDir dir;
  const std::string path = dir / "s.bin";
  write_file(path, Bytes(1 << 20, 7));
  EXPECT_EXIT(
      {
        source_file.file_name = path;
        stream_open(source_file.stream, path.c_str());
        if (truncate(path.c_str(), 0) != 0) std::_Exit(3);
        stream_seek(source_file.stream, 500000);
        stream_read_byte(source_file.stream);
        std::_Exit(4);
      },
      testing::ExitedWithCode(1), "s.bin : unexpected end of file.");
}

TEST(SourceStream, LargeFilesReadThroughWindowsLikeSmallOnes) {
  // Positions around window edges, seeks back and forth, blocks across windows, the end.
  TempDir dir;
  const std::string path = dir / "big.bin";
  Bytes bytes(stream_window_size * 2 + 12345);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i * 7 + i / 251);
  write_file(path, bytes);
  stream_open(source_file.stream, path.c_str());
  ASSERT_TRUE(source_file.stream.mapped);
  for (uint64_t position : {uint64_t{0}, uint64_t{stream_window_size - 1}, uint64_t{stream_window_size}, uint64_t{5},
                            uint64_t{bytes.size() - 1}, uint64_t{stream_window_size * 2 - 3}}) {
    stream_seek(source_file.stream, position);
    EXPECT_EQ(stream_read_byte(source_file.stream), bytes[position]) << position;
    EXPECT_EQ(stream_position(source_file.stream), position + 1);
  }
  stream_seek(source_file.stream, stream_window_size - 10);
  Bytes block(stream_window_size + 20);
  ASSERT_EQ(stream_read_block(source_file.stream, block.data(), block.size()), block.size());
  EXPECT_TRUE(std::equal(block.begin(), block.end(), bytes.begin() + long(stream_window_size - 10)));
  stream_seek(source_file.stream, bytes.size());
  EXPECT_EQ(stream_read_byte(source_file.stream), -1);
  stream_seek(source_file.stream, bytes.size() + 100);
  EXPECT_EQ(stream_read_byte(source_file.stream), -1);
  stream_close(source_file.stream);
}

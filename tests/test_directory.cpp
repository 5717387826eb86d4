// Directory queries over directories built here, in both byte orders.
#include <gtest/gtest.h>

#include "reader/directory.h"
#include "sources/source_file.h"
#include "tests/support.h"

namespace {

struct OpenedTiff {
  TempDir dir;
  uint32_t directory = 0;
};

// Writes the file, opens it as the source file and installs its byte order.
void open_tiff(OpenedTiff& t, const Bytes& bytes) {
  const std::string path = t.dir / "d.tif";
  write_file(path, bytes);
  source_file.file_name = path;
  ASSERT_TRUE(stream_open(source_file.stream, path.c_str()));
  install_byte_order(bytes[0] == 'I');
  stream_seek(source_file.stream, 4);
  t.directory = source_file.read_u32();
}

TiffSpec with_fields(bool little, std::vector<Field> fields) {
  TiffSpec tiff;
  tiff.little = little;
  tiff.fields = std::move(fields);
  tiff.strip_fields = false;
  return tiff;
}

}  // namespace

TEST(DirectoryQueries, SingleValuesByTypeAndCount) {
  struct Case {
    const char* name;
    Field field;
    uint16_t expect_short;   // tag_short(..., 7777)
    uint32_t expect_either;  // tag_short_or_long(..., 88888)
  };
  const std::vector<Case> cases = {
      {"single SHORT", short_field(300, {5}), 5, 5},
      {"SHORT 65535 is not sign-extended", short_field(300, {65535}), 65535, 65535},
      {"single LONG", long_field(300, {65536}), 7777, 65536},
      {"SHORT count 2", short_field(300, {5, 6}), 7777, 88888},
      {"LONG count 2", long_field(300, {5, 6}), 7777, 88888},
      {"SHORT count 0", Field{300, 3, {}, {}, 0u, {}}, 7777, 88888},
      {"ASCII", ascii_field(300, "ab\0"), 7777, 88888},
      {"type 5 (RATIONAL)", Field{300, 5, {}, Bytes(8, 1), 1u, {}}, 7777, 88888},
  };
  for (bool little : {true, false})
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (little ? " little" : " big"));
      OpenedTiff t;
      open_tiff(t, build_tiff(with_fields(little, {short_field(100, {1}), c.field})));
      EXPECT_EQ(tag_short(t.directory, 300, 7777), c.expect_short);
      EXPECT_EQ(tag_short_or_long(t.directory, 300, 88888), c.expect_either);
      EXPECT_EQ(find_tag(t.directory, 300), c.field.type);
      EXPECT_EQ(find_tag(t.directory, 301), tiff_type_absent);
    }
}

TEST(DirectoryQueries, ValueFieldBytesAreReadInFileOrder) {
  // A single SHORT of 5: 00 05 00 00 big-endian, 05 00 00 00 little-endian.
  for (bool little : {true, false}) {
    OpenedTiff t;
    Bytes bytes = build_tiff(with_fields(little, {short_field(300, {5})}));
    open_tiff(t, bytes);
    const Bytes expected = little ? Bytes{5, 0, 0, 0} : Bytes{0, 5, 0, 0};
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), bytes.begin() + t.directory + 2 + 8));
    EXPECT_EQ(tag_short(t.directory, 300, 0), 5);
  }
}

TEST(DirectoryQueries, EmptyDirectoryAndFirstEntryWins) {
  OpenedTiff empty;
  open_tiff(empty, build_tiff(with_fields(true, {})));
  EXPECT_EQ(tag_short(empty.directory, 256, 9), 9);
  EXPECT_EQ(tag_short_or_long(empty.directory, 256, 4294967295u), 4294967295u);
  uint32_t values[1] = {77};
  EXPECT_EQ(tag_array(empty.directory, 273, 1, values), TagArrayResult::absent_or_unfit);

  OpenedTiff twice;
  open_tiff(twice, build_tiff(with_fields(false, {short_field(400, {1}), short_field(300, {11}), short_field(200, {2}),
                                                  short_field(300, {22})})));
  EXPECT_EQ(tag_short(twice.directory, 300, 0), 11);
  EXPECT_EQ(tag_short(twice.directory, 200, 0), 2);
  // Queries may come in any order and any number of times.
  EXPECT_EQ(tag_short(twice.directory, 400, 0), 1);
  EXPECT_EQ(tag_short(twice.directory, 300, 0), 11);
}

TEST(DirectoryQueries, Arrays) {
  struct Case {
    const char* name;
    Field field;
    uint32_t expected_count;
    TagArrayResult result;
    std::vector<uint32_t> values;  // what lands in the caller's array (untouched: 99)
  };
  const std::vector<Case> cases = {
      {"SHORT 2 in the value field", short_field(273, {7, 65535}), 2, TagArrayResult::stored, {7, 65535, 99}},
      {"SHORT 3 at an offset", short_field(273, {1, 2, 3}), 3, TagArrayResult::stored, {1, 2, 3}},
      {"LONG 1 in the value field", long_field(273, {70000}), 1, TagArrayResult::stored, {70000, 99, 99}},
      {"LONG 2 at an offset", long_field(273, {70000, 80000}), 2, TagArrayResult::stored, {70000, 80000, 99}},
      {"count differs", long_field(273, {1, 2}), 3, TagArrayResult::count_differs, {99, 99, 99}},
      {"ASCII with the expected count", ascii_field(273, "ab\0"), 3, TagArrayResult::absent_or_unfit, {99, 99, 99}},
      {"zero of zero", Field{273, 4, {}, {}, 0u, {}}, 0, TagArrayResult::stored, {99, 99, 99}},
  };
  for (bool little : {true, false})
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (little ? " little" : " big"));
      OpenedTiff t;
      open_tiff(t, build_tiff(with_fields(little, {c.field})));
      std::vector<uint32_t> values(3, 99);
      EXPECT_EQ(tag_array(t.directory, 273, c.expected_count, values.data()), c.result);
      values.resize(c.values.size());
      EXPECT_EQ(values, c.values);
    }
}

TEST(DirectoryQueries, OffsetsBeyond64KiBAreReached) {
  for (bool little : {true, false}) {
    TiffSpec tiff = with_fields(little, {short_field(273, {0, 0, 0})});
    tiff.fields[0].value_field = 70000;
    Bytes bytes = build_tiff(tiff);
    bytes.resize(70006, 0);
    bytes[70001] = 1;  // the first value, 1 in the big order, 256 in the little one
    bytes[70005] = 3;
    OpenedTiff t;
    open_tiff(t, bytes);
    uint32_t values[3] = {};
    ASSERT_EQ(tag_array(t.directory, 273, 3, values), TagArrayResult::stored);
    EXPECT_EQ(values[0], little ? 256u : 1u);
    EXPECT_EQ(values[2], little ? 768u : 3u);
  }
}

TEST(DirectoryQueries, ReadsBeyondTheEndOfTheFileAreFaults) {
  struct Case {
    const char* name;
    Bytes bytes;
  };
  TiffSpec far_values = with_fields(true, {long_field(273, {1, 2, 3})});
  far_values.fields[0].value_field = 1000;
  Bytes cut_directory = build_tiff(with_fields(true, {short_field(100, {1}), short_field(300, {2})}));
  cut_directory.resize(cut_directory.size() - 10);
  const std::vector<Case> cases = {
      {"value array beyond the end", build_tiff(far_values)},
      {"directory cut short", cut_directory},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OpenedTiff t;
    open_tiff(t, c.bytes);
    uint32_t values[3];
    try {
      tag_array(t.directory, 273, 3, values);
      tag_short(t.directory, 300, 0);
      ADD_FAILURE() << "no fault";
    } catch (const SourceFault& fault) {
      EXPECT_EQ(fault.message, "unexpected end of file.");
    }
  }
}

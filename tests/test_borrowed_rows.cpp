// Uncompressed 16-bit strips in the machine's byte order, stored one after the other, are mapped
// from the file as the rows. Whatever the layout, the outcome (samples or fault) is the one that
// copying the strips through row assembly gives; only the fitting layouts are mapped.
#include <gtest/gtest.h>

#include <unistd.h>

#include <functional>

#include "reader/borrowed_rows.h"
#include "reader/source_image.h"
#include "tests/support.h"

namespace {

struct Outcome {
  std::vector<uint16_t> samples;
  std::string fault;
  bool mapped = false;
  bool operator==(const Outcome&) const = default;
};

Outcome read_with_borrowing_from(const std::string& path, uint64_t threshold) {
  const uint64_t saved = borrow_rows_from;
  borrow_rows_from = threshold;
  Outcome outcome;
  try {
    SourceImage image = read_source_image(path.c_str());
    for (int32_t r = 0; r < image.height; ++r)
      outcome.samples.insert(outcome.samples.end(), image.rows.row(r), image.rows.row(r) + image.width);
    outcome.mapped = image.rows.samples.get_deleter().file_mapped;
  } catch (const SourceFault& fault) {
    outcome.fault = fault.message;
  }
  borrow_rows_from = saved;
  return outcome;
}

std::vector<uint16_t> all_samples(const ImageSpec& image) {
  std::vector<uint16_t> samples;
  for (const auto& row : image.rows) samples.insert(samples.end(), row.begin(), row.end());
  return samples;
}

// Width 5 (10 bytes a row), height 7, three rows per strip: strips of 30, 30 and 10 bytes.
ImageSpec sixteen_bit_image() {
  ImageSpec image;
  image.width = 5;
  image.height = 7;
  image.bits = 16;
  image.rows_per_strip = 3;
  for (int32_t r = 0; r < image.height; ++r) {
    std::vector<uint16_t> row;
    for (int32_t c = 0; c < image.width; ++c) row.push_back(uint16_t(0x0101 * (r + 1) + 0x1000 * c + 0x8000 * (c & 1)));
    image.rows.push_back(row);
  }
  return image;
}

// The strips stored at places of the case's choosing: the blob holds them, stored at offset 8,
// and the two tables are written as given.
struct Placement {
  Bytes blob;
  std::vector<uint32_t> offsets, counts;
};

Placement contiguous(const std::vector<Bytes>& strips, uint32_t lead) {
  Placement p;
  p.blob.assign(lead, 0xEE);
  for (const Bytes& strip : strips) {
    p.offsets.push_back(uint32_t(8 + p.blob.size()));
    p.counts.push_back(uint32_t(strip.size()));
    p.blob.insert(p.blob.end(), strip.begin(), strip.end());
  }
  return p;
}

Bytes placed_tiff(const ImageSpec& image, const Placement& p) {
  TiffSpec tiff = image_tiff(image);
  tiff.strips = {p.blob};
  tiff.strip_fields = false;
  tiff.fields.push_back(long_field(273, p.offsets));
  tiff.fields.push_back(long_field(279, p.counts));
  return build_tiff(tiff);
}

}  // namespace

TEST(BorrowedRows, MappedOnlyWhereTheStripsAreTheRowsAndAlwaysAsCopied) {
  TempDir dir;
  struct Case {
    const char* name;
    std::function<void(ImageSpec&)> image_edit;
    std::function<void(Placement&)> placement_edit;
    bool mapped;
    const char* fault;    // empty when the image reads
    bool as_made = true;  // the samples read are the image's own
  };
  const auto same = [](ImageSpec&) {};
  const auto as_stored = [](Placement&) {};
  const std::vector<Case> cases = {
      {"strips one after the other", same, as_stored, true, ""},
      {"one strip", [](ImageSpec& i) { i.rows_per_strip = 0; }, as_stored, true, ""},
      {"one row per strip", [](ImageSpec& i) { i.rows_per_strip = 1; }, as_stored, true, ""},
      {"odd first offset", same,
       [](Placement& p) {
         p.blob.insert(p.blob.begin(), 0xEE);
         for (uint32_t& o : p.offsets) ++o;
       },
       false, ""},
      {"a gap after the first strip", same,
       [](Placement& p) {
         p.blob.insert(p.blob.begin() + 30, {0xEE, 0xEE});
         p.offsets[1] += 2;
         p.offsets[2] += 2;
       },
       false, ""},
      {"second and third strips exchanged", same,
       [](Placement& p) {
         Bytes second(p.blob.begin() + 30, p.blob.begin() + 60), third(p.blob.begin() + 60, p.blob.end());
         p.blob.resize(30);
         p.blob.insert(p.blob.end(), third.begin(), third.end());
         p.blob.insert(p.blob.end(), second.begin(), second.end());
         p.offsets[2] = p.offsets[1];
         p.offsets[1] = p.offsets[2] + 10;
       },
       false, ""},
      {"strips overlapping", same, [](Placement& p) { p.offsets[2] = p.offsets[1]; }, false, "", false},
      {"last strip one byte longer", same, [](Placement& p) { ++p.counts[2]; }, false, "too many codes."},
      {"first strip one byte shorter", same, [](Placement& p) { --p.counts[0]; }, false, "too few codes."},
      {"big-endian", [](ImageSpec& i) { i.little = false; }, as_stored, false, ""},
      {"FillOrder 2", [](ImageSpec& i) { i.fill_order = 2; }, as_stored, false, ""},
      {"Predictor 2", [](ImageSpec& i) { i.predictor = 2; }, as_stored, false, ""},
      {"12 bits",
       [](ImageSpec& i) {
         i.bits = 12;
         for (auto& row : i.rows)
           for (uint16_t& s : row) s &= 0xFFF;
       },
       as_stored, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ImageSpec image = sixteen_bit_image();
    c.image_edit(image);
    Placement placement = contiguous(image_strips(image), 0);
    c.placement_edit(placement);
    const std::string path = dir / "s.tif";
    write_file(path, placed_tiff(image, placement));
    const Outcome mapped_way = read_with_borrowing_from(path, 0);
    const Outcome copied_way = read_with_borrowing_from(path, UINT64_MAX);
    EXPECT_EQ(mapped_way.mapped, c.mapped);
    EXPECT_FALSE(copied_way.mapped);
    EXPECT_EQ(mapped_way.fault, c.fault);
    EXPECT_EQ(mapped_way.samples, copied_way.samples);
    EXPECT_EQ(mapped_way.fault, copied_way.fault);
    if (*c.fault == '\0' && c.as_made) {
      EXPECT_EQ(mapped_way.samples, all_samples(image));
    }
  }
}

TEST(BorrowedRows, StripsAfterTheDirectoryUpToTheEndOfTheFile) {
  // The builder puts the directory after the strips; here the strips go after the directory,
  // so the file can end inside them.
  TempDir dir;
  const ImageSpec image = sixteen_bit_image();
  const Placement stored = contiguous(image_strips(image), 0);
  Placement empty = stored;
  empty.blob.clear();
  const uint32_t end_of_directory = uint32_t(placed_tiff(image, empty).size());
  for (const uint32_t cut : {0u, 1u, 2u}) {
    SCOPED_TRACE("bytes cut: " + std::to_string(cut));
    Placement after = stored;
    after.blob.clear();
    for (size_t s = 0; s < after.offsets.size(); ++s) after.offsets[s] = stored.offsets[s] - 8 + end_of_directory;
    Bytes file = placed_tiff(image, after);
    ASSERT_EQ(file.size(), end_of_directory);
    file.insert(file.end(), stored.blob.begin(), stored.blob.end() - cut);
    const std::string path = dir / "s.tif";
    write_file(path, file);
    const Outcome outcome = read_with_borrowing_from(path, 0);
    EXPECT_EQ(outcome.mapped, cut == 0);
    EXPECT_EQ(outcome.fault, cut == 0 ? "" : "unexpected end of file.");
    if (cut == 0) {
      EXPECT_EQ(outcome.samples, all_samples(image));
    }
  }
}

TEST(BorrowedRows, ASourceShrinkingUnderMappedRowsIsTheEndOfTheFile) {
  TempDir dir;
  ImageSpec image = uniform_image(2048, 8, 0);
  image.bits = 16;
  const std::string path = dir / "s.tif";
  write_file(path, build_tiff(image_tiff(image)));
  const uint64_t saved = borrow_rows_from;
  borrow_rows_from = 0;
  EXPECT_EXIT(
      {
        SourceImage read = read_source_image(path.c_str());
        if (!read.rows.samples.get_deleter().file_mapped) std::_Exit(3);
        if (truncate(path.c_str(), 0) != 0) std::_Exit(4);
        volatile uint16_t sample = read.rows.row(7)[2047];
        (void)sample;
        std::_Exit(5);
      },
      testing::ExitedWithCode(1), "s.tif : unexpected end of file.");
  borrow_rows_from = saved;
}

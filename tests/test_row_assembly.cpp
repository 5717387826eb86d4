// Row assembly over a scripted source: the samples of each depth class, both FillOrders, the
// byte exchange, the predictor, the pattern of strip calls and results of -1.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reader/row_assembly.h"

namespace {

// Serves scripted results and logs every call: "S<offset>/<count>", "b", "F".
struct ScriptedSource {
  static inline std::vector<int32_t> results;
  static inline size_t next = 0;  // next_byte calls so far
  static inline std::string log;
  static void start(uint32_t offset, uint32_t count) {
    log.push_back('S');
    log.append(std::to_string(offset)).push_back('/');
    log.append(std::to_string(count));
  }
  static int32_t next_byte() {
    log.push_back('b');
    const size_t i = next++;
    return i < results.size() ? results[i] : -1;
  }
  static void finish() { log += "F"; }
};

struct AssemblyCase {
  const char* name;
  int32_t width, height, bits;
  uint16_t fill_order;
  bool little;
  uint16_t predictor_mask;
  std::vector<int32_t> results;
  std::vector<std::vector<uint16_t>> rows;
  size_t requests;  // next_byte calls made
};

std::vector<std::vector<uint16_t>> assemble(const AssemblyCase& c, uint32_t rows_per_strip) {
  ScriptedSource::results = c.results;
  ScriptedSource::next = 0;
  ScriptedSource::log.clear();
  RowLayout layout{c.width, c.height, c.bits, c.fill_order, c.little, c.predictor_mask, rows_per_strip};
  SampleRows rows;
  rows.samples = make_block<uint16_t>(size_t(c.width) * size_t(c.height));
  rows.row_length = size_t(c.width);
  std::vector<uint32_t> offsets(c.height, 0), counts(c.height, 0);
  assemble_rows<ScriptedSource>(layout, offsets.data(), counts.data(), rows);
  std::vector<std::vector<uint16_t>> out;
  for (int32_t r = 0; r < c.height; ++r) out.emplace_back(rows.row(r), rows.row(r) + c.width);
  return out;
}

}  // namespace

TEST(RowAssembly, SamplesOfEveryDepthClass) {
  const std::vector<AssemblyCase> cases = {
      {"12 bits FillOrder 1", 2, 1, 12, 1, false, 0, {0xAB, 0xCD, 0xEF}, {{0xABC, 0xDEF}}, 3},
      {"12 bits FillOrder 2", 2, 1, 12, 2, false, 0, {0xAB, 0xCD, 0xEF}, {{0xD5B, 0x3F7}}, 3},
      {"12 bits little-endian: no exchange", 2, 1, 12, 1, true, 0, {0xAB, 0xCD, 0xEF}, {{0xABC, 0xDEF}}, 3},
      {"12 bits with predictor", 2, 1, 12, 1, false, 0xFFF, {0xAB, 0xCD, 0xEF}, {{0xABC, 0x8AB}}, 3},
      {"5 bits FillOrder 1, last bit dropped", 3, 1, 5, 1, false, 0, {0x08, 0x86}, {{1, 2, 3}}, 2},
      {"5 bits FillOrder 2", 3, 1, 5, 2, false, 0, {0x08, 0x86}, {{2, 1, 16}}, 2},
      {"1 bit, each row a byte", 3, 2, 1, 1, false, 0, {0xA0, 0x40}, {{1, 0, 1}, {0, 1, 0}}, 2},
      {"1 bit FillOrder 2", 3, 1, 1, 2, false, 0, {0x05}, {{1, 0, 1}}, 1},
      {"16 bits big FillOrder 1", 1, 1, 16, 1, false, 0, {0x12, 0x34}, {{0x1234}}, 2},
      {"16 bits big FillOrder 2", 1, 1, 16, 2, false, 0, {0x12, 0x34}, {{0x482C}}, 2},
      {"16 bits little FillOrder 1", 1, 1, 16, 1, true, 0, {0x34, 0x12}, {{0x1234}}, 2},
      {"16 bits little FillOrder 2", 1, 1, 16, 2, true, 0, {0x12, 0x34}, {{0x2C48}}, 2},
      {"8 bits little FillOrder 1", 2, 1, 8, 1, true, 0, {0x01, 0xC0}, {{0x01, 0xC0}}, 2},
      {"8 bits FillOrder 2", 2, 1, 8, 2, true, 0, {0x01, 0xC0}, {{0x80, 0x03}}, 2},
      {"16 bits little with predictor: exchange first, wrap",
       3,
       1,
       16,
       1,
       true,
       0xFFFF,
       {0xFF, 0xFF, 0x02, 0x00, 0x03, 0x00},
       {{0xFFFF, 0x0001, 0x0004}},
       6},
      {"4 bits with predictor", 4, 1, 4, 1, false, 0xF, {0x9A, 0xBC}, {{9, 3, 14, 10}}, 2},
      {"width 1 with predictor", 1, 1, 8, 1, false, 0xFF, {0x77}, {{0x77}}, 1},
      {"0 bits: no byte", 3, 2, 0, 1, false, 0, {}, {{0, 0, 0}, {0, 0, 0}}, 0},
      {"8 bits -1", 2, 1, 8, 1, false, 0, {0x10, -1}, {{0x10, 0xFFFF}}, 2},
      {"12 bits 0x07 then -1", 2, 1, 12, 1, false, 0, {0x07, -1}, {{0x07F, 0xFFF}}, 3},
      {"16 bits high byte -1", 1, 1, 16, 1, false, 0, {-1, 0x34}, {{0xFF34}}, 2},
      {"16 bits low byte -1", 1, 1, 16, 1, false, 0, {0x12, -1}, {{0xFFFF}}, 2},
      {"7 bits straddling", 3, 1, 7, 1, false, 0, {0b10000001, 0b00000100, 0b00011000}, {{64, 65, 3}}, 3},
      {"9 bits", 2, 1, 9, 1, false, 0, {0xFF, 0x80, 0x00}, {{0x1FF, 0x000}}, 3},
      {"15 bits FillOrder 2", 1, 1, 15, 2, false, 0, {0x01, 0x02}, {{0x4020}}, 2},
  };
  for (const AssemblyCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(assemble(c, uint32_t(c.height)), c.rows);
    EXPECT_EQ(ScriptedSource::next, c.requests);
  }
}

TEST(RowAssembly, StripsStartAndFinishAtTheirRows) {
  struct PatternCase {
    int32_t height;
    uint32_t rows_per_strip;
    const char* log;
  };
  const std::vector<PatternCase> cases = {
      {5, 2, "S0/0bbFS0/0bbFS0/0bF"}, {5, 5, "S0/0bbbbbF"},         {5, 6, "S0/0bbbbbF"},
      {5, 4294967295u, "S0/0bbbbbF"}, {3, 1, "S0/0bFS0/0bFS0/0bF"},
  };
  for (const PatternCase& c : cases) {
    SCOPED_TRACE(c.rows_per_strip);
    AssemblyCase image{"", 1, c.height, 8, 1, false, 0, std::vector<int32_t>(5, 1), {}, 0};
    assemble(image, c.rows_per_strip);
    EXPECT_EQ(ScriptedSource::log, c.log);
  }
  // 0 bits: strips are still started and finished.
  AssemblyCase empty{"", 4, 3, 0, 1, false, 0, {}, {}, 0};
  assemble(empty, 2);
  EXPECT_EQ(ScriptedSource::log, "S0/0FS0/0F");
}

TEST(RowAssembly, StripTablesGiveEachStartItsEntries) {
  ScriptedSource::results.assign(6, 0);
  ScriptedSource::next = 0;
  ScriptedSource::log.clear();
  RowLayout layout{1, 3, 8, 1, false, 0, 2};
  SampleRows rows;
  rows.samples = make_block<uint16_t>(3);
  rows.row_length = 1;
  const uint32_t offsets[] = {100, 4000000000u}, counts[] = {2, 1};
  assemble_rows<ScriptedSource>(layout, offsets, counts, rows);
  EXPECT_EQ(ScriptedSource::log, "S100/2bbFS4000000000/1bF");
}

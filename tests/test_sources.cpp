// The strip sources on stored byte strings built here: what each delivers, the fault it
// raises (and where), and how many stored bytes it took.
#include <gtest/gtest.h>

#include "sources/lzw_source.h"
#include "sources/packbits_source.h"
#include "sources/raw_source.h"
#include "tests/lzw_encoder.h"
#include "tests/source_harness.h"

namespace {

struct SourceCase {
  const char* name;
  Bytes stored;
  int requests;
  long byte_count;        // -1: the stored size
  Bytes delivered;        // the bytes delivered before the outcome
  const char* fault;      // "" when everything passes
  const char* raised_in;  // "" when everything passes
  uint32_t taken;         // stored bytes taken
};

// Each case one request at a time and, for sources that deliver runs, in runs of several sizes:
// a fault cuts a run short, so only the bytes before it are compared.
template <class Source>
void check_cases(const std::vector<SourceCase>& cases) {
  TempDir dir;
  constexpr bool in_runs = requires(uint8_t * out) { Source::next_bytes(out, std::size_t{1}); };
  const std::vector<int> chunks = in_runs ? std::vector<int>{0, 1, 2, 3, 7, 4096} : std::vector<int>{0};
  for (const SourceCase& c : cases)
    for (int chunk : chunks) {
      SCOPED_TRACE(std::string(c.name) + " chunk " + std::to_string(chunk));
      SourceRun run = run_source<Source>(dir, c.stored, c.requests, c.byte_count, chunk);
      if (chunk == 0 || std::string(c.fault).empty() || std::string(c.raised_in) != "next_byte") {
        EXPECT_EQ(run.delivered, c.delivered);
      }
      EXPECT_EQ(run.fault, c.fault);
      EXPECT_EQ(run.raised_in, c.raised_in);
      EXPECT_EQ(run.taken, c.taken);
    }
}

Bytes repeat(uint8_t value, int count) { return Bytes(size_t(count), value); }

Bytes concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace

TEST(RawSource, DeliversExactlyTheStoredBytes) {
  const Bytes six = {1, 2, 3, 4, 5, 0xFF};
  check_cases<RawSource>({
      {"six bytes for six requests", six, 6, -1, six, "", "", 6},
      {"one byte left over", concat(six, {7}), 6, -1, six, "too many codes.", "finish", 6},
      {"one byte short: no read", six, 6, 5, {1, 2, 3, 4, 5}, "too few codes.", "next_byte", 5},
      {"no byte needed, none stored", {}, 0, -1, {}, "", "", 0},
      {"no byte needed, one stored", {9}, 0, -1, {}, "too many codes.", "finish", 0},
      {"strip beyond the end of the file", {1, 2}, 3, 3, {1, 2}, "unexpected end of file.", "next_byte", 3},
  });
}

TEST(PackBitsSource, RunsHeadersAndTheirFaults) {
  Bytes longest_literal = concat({0x7F}, Bytes(128, 0x33));
  check_cases<PackBitsSource>({
      {"no-operation headers skipped", {0x80, 0x80, 0x01, 0x07, 0x08, 0xFF, 0x09}, 4, -1, {7, 8, 9, 9}, "", "", 7},
      {"literal run left open", {0x02, 0x01, 0x02, 0x03}, 2, -1, {1, 2}, "MPB too many codes.", "finish", 3},
      {"repeat of three", {0xFE, 0x05}, 3, -1, {5, 5, 5}, "", "", 2},
      {"repeat left open", {0xFE, 0x05}, 2, -1, {5, 5}, "MPB too many codes.", "finish", 2},
      {"longest repeat", {0x81, 0xAA}, 128, -1, repeat(0xAA, 128), "", "", 2},
      {"request past the longest repeat",
       {0x81, 0xAA},
       129,
       -1,
       repeat(0xAA, 128),
       "MPB too few codes.",
       "next_byte",
       2},
      {"longest literal", longest_literal, 128, -1, Bytes(128, 0x33), "", "", 129},
      {"repeat of two zeros", {0xFF, 0x00}, 2, -1, {0, 0}, "", "", 2},
      {"single literal", {0x00, 0x41}, 1, -1, {0x41}, "", "", 2},
      {"trailing no-operation header unread", {0x00, 0x41, 0x80}, 1, -1, {0x41}, "MPB too many codes.", "finish", 2},
      {"only a no-operation header left", {0x00, 0x41, 0x80}, 2, -1, {0x41}, "MPB too few codes.", "next_byte", 3},
      {"literal cut short", {0x02, 0x01, 0x02}, 3, -1, {1, 2}, "MPB too few codes.", "next_byte", 3},
      {"repeat header as last byte", {0x00, 0x41, 0xFE}, 2, -1, {0x41}, "MPB too few codes.", "next_byte", 3},
      {"empty strip, no request", {}, 0, -1, {}, "", "", 0},
      {"empty strip, one request", {}, 1, -1, {}, "MPB too few codes.", "next_byte", 0},
      {"run data beyond the end of the file", {0x03, 0x01}, 4, 5, {1}, "unexpected end of file.", "next_byte", 3},
  });
}

TEST(PackBitsSource, RunContinuesAcrossRowsButNotStrips) {
  TempDir dir;
  // 128 copies serve two rows of 64: the source knows nothing of rows.
  SourceRun run = run_source<PackBitsSource>(dir, {0x81, 0x10}, 128);
  EXPECT_EQ(run.fault, "");
  // A new strip starts with no run open, whatever the previous one left.
  write_file(dir / "two.bin", {0xFE, 0x07, 0x00, 0x42});
  stream_open(source_file.stream, (dir / "two.bin").c_str());
  PackBitsSource::start(0, 2);
  EXPECT_EQ(PackBitsSource::next_byte(), 7);
  PackBitsSource::start(2, 2);
  EXPECT_EQ(PackBitsSource::next_byte(), 0x42);
  EXPECT_NO_THROW(PackBitsSource::finish());
}

TEST(LzwSource, WorkedStreams) {
  const Bytes defined_at_arrival = {0x80, 0x18, 0x60, 0x50, 0x38, 0x08};  // 256 97 258 259 257
  check_cases<LzwSource>({
      {"clear and end only, no request", {0x80, 0x40, 0x40}, 0, -1, {}, "", "", 3},
      {"clear and end only, one request", {0x80, 0x40, 0x40}, 1, -1, {}, "LZW unexpected end of code.", "next_byte", 3},
      {"codes defined at arrival", defined_at_arrival, 6, -1, repeat(0x61, 6), "", "", 6},
      {"one byte left pending", defined_at_arrival, 5, -1, repeat(0x61, 5), "LZW too many codes.", "finish", 6},
      {"request after the end", defined_at_arrival, 7, -1, repeat(0x61, 6), "LZW unexpected end of code.", "next_byte",
       6},
      {"stored byte after the end", concat(defined_at_arrival, {0}), 6, -1, repeat(0x61, 6), "LZW too many codes.",
       "finish", 6},
      {"end code cut off", defined_at_arrival, 6, 5, repeat(0x61, 6), "LZW too few codes.", "finish", 5},
      {"table entry and code being defined",
       {0x80, 0x10, 0x48, 0x50, 0x28, 0x24, 0x04},
       7,
       -1,
       {0x41, 0x42, 0x41, 0x42, 0x41, 0x42, 0x41},
       "",
       "",
       7},
      {"no leading clear", {0x00, 0x00}, 0, -1, {}, "LZW missing first clear code.", "start", 2},
      {"one byte strip", {0x80}, 0, -1, {}, "LZW too few codes.", "start", 1},
      {"clear after clear",
       {0x80, 0x40, 0x08, 0x30, 0x10},
       1,
       -1,
       {},
       "LZW unknown code after clear code.",
       "next_byte",
       3},
      {"code far above next", {0x80, 0x10, 0x65, 0x90, 0x10}, 2, -1, {0x41}, "LZW too large code.", "next_byte", 4},
      {"code one above next", {0x80, 0x10, 0x60, 0x70, 0x10}, 2, -1, {0x41}, "LZW too large code.", "next_byte", 4},
      {"clear before end", {0x80, 0x10, 0x60, 0x10, 0x10}, 1, -1, {0x41}, "", "", 5},
      {"end after clear while a byte is wanted",
       {0x80, 0x10, 0x60, 0x10, 0x10},
       2,
       -1,
       {0x41},
       "LZW unexpected end of code.",
       "next_byte",
       5},
      {"data code where the end belongs",
       {0x80, 0x10, 0x48, 0x50, 0x10},
       1,
       -1,
       {0x41},
       "LZW missing end of codes.",
       "finish",
       4},
      {"strip beyond the end of the file", {0x80, 0x10}, 1, 6, {}, "unexpected end of file.", "next_byte", 3},
  });
}

namespace {

// Decodes a whole encoded stream with requests for every byte, then finish.
SourceRun decode_all(const TempDir& dir, const Bytes& data, const LzwStream& stream) {
  SourceRun one_by_one = run_source<LzwSource>(dir, stream.bytes, int(data.size()));
  for (int chunk : {1, 5, 4096}) {
    SourceRun in_runs = run_source<LzwSource>(dir, stream.bytes, int(data.size()), -1, chunk);
    EXPECT_EQ(in_runs.fault, one_by_one.fault) << "chunk " << chunk;
    EXPECT_EQ(in_runs.taken, one_by_one.taken) << "chunk " << chunk;
    if (one_by_one.fault.empty()) {
      EXPECT_EQ(in_runs.delivered, one_by_one.delivered) << "chunk " << chunk;
    }
  }
  return one_by_one;
}

// Data whose encoding brings the decoder's next code to exactly `target` with its last code:
// distinct pairs make one entry per code. With long_last the last code is a two-byte string.
Bytes data_ending_at(int target, bool long_last = false) {
  Bytes data;
  for (int i = 0; i < 4096 && int(data.size()) < 2 * 4096; ++i) {
    data.push_back(uint8_t(i % 251));
    data.push_back(uint8_t((i * 7 + i / 251) % 253));
  }
  // Shorten until the encoder's last data code lands the decoder on target.
  for (size_t n = 2; n <= data.size(); ++n) {
    Bytes prefix(data.begin(), data.begin() + long(n));
    if (long_last) prefix.insert(prefix.end(), data.begin(), data.begin() + 2);
    LzwStream narrow = lzw_encode(prefix);
    LzwStream wide = lzw_encode(prefix, {true, false, 4096});
    if (narrow.end_width_differs && narrow.codes - 2 == target - 258 + 1 && narrow.bytes != wide.bytes) return prefix;
  }
  return {};
}

}  // namespace

TEST(LzwSource, EndCodeAtEitherWidthAfterEachWidthStep) {
  TempDir dir;
  for (int target : {511, 1023, 2047}) {
    SCOPED_TRACE(target);
    Bytes data = data_ending_at(target);
    ASSERT_FALSE(data.empty());
    for (bool wide : {false, true})
      for (bool clear_first : {false, true}) {
        SCOPED_TRACE(std::string(wide ? "wide" : "narrow") + (clear_first ? " after clear" : ""));
        LzwStream stream = lzw_encode(data, {wide, clear_first, 4096});
        ASSERT_TRUE(stream.end_width_differs);
        SourceRun run = decode_all(dir, data, stream);
        EXPECT_EQ(run.fault, "");
        EXPECT_EQ(run.delivered, data);
        EXPECT_EQ(run.taken, stream.bytes.size());
      }
  }
}

TEST(LzwSource, WideEndKeepsTheOtherChecks) {
  TempDir dir;
  Bytes data = data_ending_at(1023);
  LzwStream wide = lzw_encode(data, {true, false, 4096});
  // A stored byte after the wide end code is still left over.
  SourceRun extra = run_source<LzwSource>(dir, concat(wide.bytes, {0}), int(data.size()));
  EXPECT_EQ(extra.fault, "LZW too many codes.");
  // A byte of the last string not requested is still pending.
  Bytes long_last = data_ending_at(1023, true);
  LzwStream wide_long = lzw_encode(long_last, {true, false, 4096});
  ASSERT_TRUE(wide_long.end_width_differs);
  SourceRun pending = run_source<LzwSource>(dir, wide_long.bytes, int(long_last.size()) - 1);
  EXPECT_EQ(pending.fault, "LZW too many codes.");
  // Without its end code the strip still lacks one.
  Bytes cut(wide.bytes.begin(), wide.bytes.end() - 2);
  SourceRun missing = run_source<LzwSource>(dir, cut, int(data.size()));
  EXPECT_NE(missing.fault, "");
}

TEST(LzwSource, TableFullThenClear) {
  TempDir dir;
  Bytes noise;
  uint32_t seed = 12345;
  for (int i = 0; i < 60000; ++i) {
    seed = seed * 1103515245u + 12345u;
    noise.push_back(uint8_t(seed >> 24));
  }
  LzwStream stream = lzw_encode(noise);
  SourceRun run = decode_all(dir, noise, stream);
  EXPECT_EQ(run.fault, "");
  EXPECT_EQ(run.delivered, noise);
  EXPECT_EQ(run.taken, stream.bytes.size());
  // The same stream with its first table-resetting Clear replaced by a data code overflows.
  LzwStream no_reset = lzw_encode(noise, {false, false, 1 << 20});
  SourceRun overflow = decode_all(dir, noise, no_reset);
  EXPECT_EQ(overflow.fault, "LZW code table overflow.");
}

TEST(LzwSource, StringsSplitAcrossRowsAndStripsIndependent) {
  TempDir dir;
  // Two strips of the same file: the second decodes without the first's table.
  Bytes first = lzw_encode(Bytes(40, 0x61)).bytes;
  Bytes second = lzw_encode({1, 2, 3, 1, 2, 3, 1, 2, 3}).bytes;
  write_file(dir / "two.bin", concat(first, second));
  source_file.file_name = dir / "two.bin";
  stream_open(source_file.stream, source_file.file_name.c_str());
  LzwSource::start(0, uint32_t(first.size()));
  for (int i = 0; i < 40; ++i) ASSERT_EQ(LzwSource::next_byte(), 0x61);
  LzwSource::finish();
  LzwSource::start(uint32_t(first.size()), uint32_t(second.size()));
  Bytes got;
  for (int i = 0; i < 9; ++i) got.push_back(uint8_t(LzwSource::next_byte()));
  EXPECT_NO_THROW(LzwSource::finish());
  EXPECT_EQ(got, Bytes({1, 2, 3, 1, 2, 3, 1, 2, 3}));
}

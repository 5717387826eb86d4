// The runs that row assembly takes from sources that offer them (runs decoded or copied in one
// call) give exactly what one next_byte call per byte gives: the same samples, the same fault,
// the same stored bytes taken. Checked against a wrapper that hides everything but the three
// operations.
#include <gtest/gtest.h>

#include "reader/row_assembly.h"
#include "sources/lzw_source.h"
#include "sources/packbits_source.h"
#include "sources/raw_source.h"
#include "tests/lzw_encoder.h"
#include "tests/source_harness.h"

namespace {

template <class Source>
struct OneByOne {
  static void start(uint32_t offset, uint32_t count) { Source::start(offset, count); }
  static int32_t next_byte() { return Source::next_byte(); }
  static void finish() { Source::finish(); }
};

struct Outcome {
  std::vector<uint16_t> samples;
  std::string fault;
  uint32_t bytes_left = 0;
  bool operator==(const Outcome&) const = default;
};

template <class Source>
Outcome assemble_file(const std::string& path, const RowLayout& layout, uint32_t byte_count) {
  source_file.file_name = path;
  stream_open(source_file.stream, path.c_str());
  SampleRows rows;
  rows.samples = make_block<uint16_t>(size_t(layout.width) * size_t(layout.height));
  rows.row_length = size_t(layout.width);
  std::fill(rows.samples.get(), rows.samples.get() + rows.row_length * size_t(layout.height), 0xAAAA);
  const uint32_t offsets[] = {0}, counts[] = {byte_count};
  Outcome outcome;
  try {
    assemble_rows<Source>(layout, offsets, counts, rows);
  } catch (const SourceFault& fault) {
    outcome.fault = fault.message;
  }
  outcome.bytes_left = source_file.strip_bytes_left;
  outcome.samples.assign(rows.samples.get(), rows.samples.get() + rows.row_length * size_t(layout.height));
  stream_close(source_file.stream);
  return outcome;
}

Bytes noise(size_t count, uint32_t seed) {
  Bytes bytes;
  for (size_t i = 0; i < count; ++i) bytes.push_back(uint8_t((seed = seed * 1103515245u + 12345u) >> 23));
  return bytes;
}

// PackBits with every kind of run, lengths drawn from the seed.
Bytes packbits_stream(size_t decoded, uint32_t seed) {
  Bytes out;
  size_t made = 0;
  while (made < decoded) {
    seed = seed * 1664525u + 1013904223u;
    const uint32_t kind = (seed >> 28) % 4, length = 1 + (seed >> 8) % 128;
    if (kind == 0) {
      out.push_back(0x80);
    } else if (kind == 1 && length >= 2) {
      out.push_back(uint8_t(257 - length));
      out.push_back(uint8_t(seed));
      made += length;
    } else {
      out.push_back(uint8_t(length - 1));
      Bytes literal = noise(length, seed);
      out.insert(out.end(), literal.begin(), literal.end());
      made += length;
    }
  }
  return out;
}

template <class Source>
void expect_same(const TempDir& dir, const Bytes& stored, const RowLayout& layout, long byte_count = -1) {
  const std::string path = dir / "strip.bin";
  write_file(path, stored);
  const uint32_t count = byte_count < 0 ? uint32_t(stored.size()) : uint32_t(byte_count);
  const Outcome fast = assemble_file<Source>(path, layout, count);
  const Outcome slow = assemble_file<OneByOne<Source>>(path, layout, count);
  EXPECT_EQ(fast.fault, slow.fault);
  EXPECT_EQ(fast.bytes_left, slow.bytes_left);
  if (slow.fault.empty()) {
    EXPECT_TRUE(fast.samples == slow.samples);
  }
}

std::vector<RowLayout> layouts() {
  std::vector<RowLayout> all;
  for (int32_t bits : {8, 16})
    for (bool little : {false, true})
      for (int32_t width : {1, 3, 700, 5000}) all.push_back({width, 7, bits, 1, little, 0, 7});
  return all;
}

}  // namespace

TEST(FastPaths, RawRunsEqualOneByOne) {
  TempDir dir;
  for (const RowLayout& layout : layouts()) {
    SCOPED_TRACE(std::to_string(layout.width) + " x " + std::to_string(layout.bits_per_sample));
    const size_t needed = size_t(layout.width) * size_t(layout.height) * size_t(layout.bits_per_sample / 8);
    const Bytes stored = noise(needed + 3, uint32_t(needed));
    for (long count : {long(needed), long(needed) - 1, long(needed) + 1})
      expect_same<RawSource>(dir, stored, layout, count);
    // A strip that runs past the end of the file.
    expect_same<RawSource>(dir, Bytes(stored.begin(), stored.begin() + long(needed / 2)), layout, long(needed));
  }
}

TEST(FastPaths, PackBitsRunsEqualOneByOne) {
  TempDir dir;
  for (const RowLayout& layout : layouts())
    for (uint32_t seed : {1u, 2u, 3u}) {
      SCOPED_TRACE(std::to_string(layout.width) + " x " + std::to_string(layout.bits_per_sample));
      const size_t needed = size_t(layout.width) * size_t(layout.height) * size_t(layout.bits_per_sample / 8);
      const Bytes stored = packbits_stream(needed + seed * 5, seed);
      expect_same<PackBitsSource>(dir, stored, layout);
      expect_same<PackBitsSource>(dir, Bytes(stored.begin(), stored.begin() + long(stored.size() / 2)), layout);
    }
}

TEST(FastPaths, LzwRunsEqualOneByOne) {
  TempDir dir;
  for (const RowLayout& layout : layouts())
    for (uint32_t seed : {1u, 2u}) {
      SCOPED_TRACE(std::to_string(layout.width) + " x " + std::to_string(layout.bits_per_sample));
      const size_t needed = size_t(layout.width) * size_t(layout.height) * size_t(layout.bits_per_sample / 8);
      Bytes data = noise(needed, seed);
      // Runs of repeats make long strings and codes defined at their arrival.
      for (size_t i = 0; i + 40 < data.size(); i += 97)
        std::fill(data.begin() + long(i), data.begin() + long(i) + 40, data[i]);
      for (bool wide : {false, true}) {
        const Bytes stored = lzw_encode(data, {wide, false, 4096}).bytes;
        expect_same<LzwSource>(dir, stored, layout);
        expect_same<LzwSource>(dir, Bytes(stored.begin(), stored.begin() + long(stored.size() / 2)), layout);
        Bytes damaged = stored;
        damaged[damaged.size() / 3] ^= 0x5A;
        expect_same<LzwSource>(dir, damaged, layout);
      }
      // The decoded data followed by more: bytes left pending at the end.
      expect_same<LzwSource>(dir, lzw_encode(noise(needed + 9, seed)).bytes, layout);
    }
}

#pragma once
// The contract of every strip source. A source is a type whose static operations deliver the
// decoded bytes of one strip at a time:
//   start(offset, byte_count)  position the stream, set strip_bytes_left, reset the state;
//   next_byte()                the next decoded byte, 0 to 255 (-1 only from test sources);
//   finish()                   check that the stored data was used up exactly.
// The source is chosen once per image; row assembly is instantiated for it, so the per-byte
// call inlines.

#include <concepts>
#include <cstddef>
#include <cstdint>

template <class Source>
concept StripSource = requires(uint32_t offset, uint32_t byte_count) {
  { Source::start(offset, byte_count) } -> std::same_as<void>;
  { Source::next_byte() } -> std::same_as<int32_t>;
  { Source::finish() } -> std::same_as<void>;
};

// A source may also deliver a run of decoded bytes in one call: next_bytes(out, n) is exactly n calls
// of next_byte, with the same stored bytes taken and the same faults.
template <class Source>
concept BulkStripSource = StripSource<Source> && requires(uint8_t* out, std::size_t count) {
  { Source::next_bytes(out, count) } -> std::same_as<void>;
};

#pragma once
// Drives a strip source over stored bytes the way row assembly does, recording what it
// delivered, the fault it raised, and how many stored bytes it took.

#include <algorithm>
#include <string>

#include "sources/source_file.h"
#include "tests/support.h"

struct SourceRun {
  Bytes delivered;
  std::string fault;      // empty when start, every request and finish passed
  std::string raised_in;  // "start", "next_byte" or "finish"
  uint32_t taken = 0;     // stored bytes taken from the strip
};

// Opens a file holding stored, then runs start(0, byte_count), requests next_byte calls and
// finish. byte_count defaults to the stored size.
// With chunk above 0 the requests go through next_bytes in runs of chunk bytes.
template <class Source>
SourceRun run_source(const TempDir& dir, const Bytes& stored, int requests, long byte_count = -1, int chunk = 0) {
  const std::string path = dir / "strip.bin";
  write_file(path, stored);
  source_file.file_name = path;
  stream_open(source_file.stream, path.c_str());
  const uint32_t count = byte_count < 0 ? uint32_t(stored.size()) : uint32_t(byte_count);
  SourceRun run;
  try {
    run.raised_in = "start";
    Source::start(0, count);
    run.raised_in = "next_byte";
    if constexpr (requires(uint8_t * out) { Source::next_bytes(out, std::size_t{1}); }) {
      for (int done = 0; chunk > 0 && done < requests; done += chunk) {
        Bytes part(size_t(std::min(chunk, requests - done)));
        Source::next_bytes(part.data(), part.size());
        run.delivered.insert(run.delivered.end(), part.begin(), part.end());
      }
    }
    if (chunk == 0)
      for (int i = 0; i < requests; ++i) run.delivered.push_back(uint8_t(Source::next_byte()));
    run.raised_in = "finish";
    Source::finish();
    run.raised_in.clear();
  } catch (const SourceFault& fault) {
    run.fault = fault.message;
  }
  run.taken = count - source_file.strip_bytes_left;
  stream_close(source_file.stream);
  return run;
}

#pragma once
// The one record of the source file being read, shared by the reader and the strip sources,
// its buffered byte stream, and fail_source.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Reads one file through a window of its own: no stdio lock per byte, 64-bit positions. Files
// larger than the buffer are read through a mapped window of stream_window_size bytes, which
// spares copying every byte; smaller ones through a buffer filled by pread. A seek inside the
// window costs nothing, which keeps the directory walks cheap.
struct ByteStream {
  int fd = -1;                        // open descriptor, -1 when closed
  std::unique_ptr<uint8_t[]> buffer;  // stream_buffer_size bytes, made at the first open
  uint8_t* window = nullptr;          // the mapped window, or null
  std::size_t window_length = 0;      // its length in bytes
  bool mapped = false;                // the file is read through mapped windows
  const uint8_t* base = nullptr;      // the byte at buffer_position (in buffer or window)
  const uint8_t* next = nullptr;      // next unread byte
  const uint8_t* end = nullptr;       // one past the last valid byte
  uint64_t buffer_position = 0;       // file position of base
  uint64_t file_size = 0;             // size in bytes when the file was opened

  ByteStream() = default;
  ByteStream(const ByteStream&) = delete;
  ByteStream& operator=(const ByteStream&) = delete;
  ~ByteStream();
};

inline constexpr std::size_t stream_buffer_size = 1 << 16;
inline constexpr std::size_t stream_window_size = std::size_t{4} << 20;
// Files larger than this are read through mapped windows (the fuzzer lowers it to reach both ways).
inline uint64_t stream_map_above = stream_buffer_size;
inline constexpr std::size_t direct_read_bytes = 1 << 14;  // blocks read past the buffer

// From here on a mapped source that shrinks while it is read reports "unexpected end of file."
// as a fault of the source being read and ends the run.
void catch_vanished_sources();

// Opens path for reading; false when it cannot be opened or is a directory.
bool stream_open(ByteStream& stream, const char* path);
void stream_close(ByteStream& stream);
// Positions the stream at an absolute file position; a position beyond the end is allowed
// and makes the next read report the end of the file.
void stream_seek(ByteStream& stream, uint64_t position);
uint64_t stream_position(const ByteStream& stream);
// Copies up to count bytes; returns how many there were before the end of the file.
std::size_t stream_read_block(ByteStream& stream, uint8_t* destination, std::size_t count);
// Slow path of stream_read_byte: refills the buffer; -1 at the end of the file or on error.
int32_t stream_refill_and_read(ByteStream& stream);

// One byte 0 to 255, or -1 at the end of the file.
inline int32_t stream_read_byte(ByteStream& stream) {
  if (stream.next != stream.end) return *stream.next++;
  return stream_refill_and_read(stream);
}

// Bytes already in the buffer or window, and taking count of them (at most that many) at once.
inline std::size_t stream_buffered(const ByteStream& stream) {
  return static_cast<std::size_t>(stream.end - stream.next);
}
inline const uint8_t* stream_take_buffered(ByteStream& stream, std::size_t count) {
  const uint8_t* bytes = stream.next;
  stream.next += count;
  return bytes;
}

struct SourceFile {
  ByteStream stream;                 // the open source file
  std::string file_name;             // as passed to read_source_image, shown in every fault
  uint16_t (*read_u16)() = nullptr;  // in the file's byte order, installed from the header
  uint32_t (*read_u32)() = nullptr;
  uint32_t strip_bytes_left = 0;  // stored bytes of the current strip not yet taken
};

inline SourceFile source_file;

// Writes "<file name> : <message>" to standard error and ends the run with status 1.
// The program's version exits; the tests and the fuzzer link a version that unwinds.
[[noreturn]] void fail_source(const char* message);

// The fault line that fail_source shows, without its line end.
std::string source_fault_text(const char* message);

[[noreturn]] void fail_unexpected_end_of_file();

// A stored byte of the header, the directory or a strip; the end of the file is a fault,
// so a truncated file never converts to a silently damaged image.
inline uint8_t take_file_byte() {
  int32_t byte = stream_read_byte(source_file.stream);
  if (byte < 0) fail_unexpected_end_of_file();
  return static_cast<uint8_t>(byte);
}

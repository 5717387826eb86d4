#include "sources/source_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "sources/messages.h"

ByteStream::~ByteStream() { stream_close(*this); }

bool stream_open(ByteStream& stream, const char* path) {
  stream_close(stream);
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat status {};
  if (::fstat(fd, &status) != 0 || S_ISDIR(status.st_mode)) {
    ::close(fd);
    return false;
  }
  if (!stream.buffer) stream.buffer = std::make_unique_for_overwrite<uint8_t[]>(stream_buffer_size);
  stream.fd = fd;
  stream.file_size = status.st_size > 0 ? static_cast<uint64_t>(status.st_size) : 0;
  stream.buffer_position = 0;
  stream.next = stream.end = stream.buffer.get();
  return true;
}

void stream_close(ByteStream& stream) {
  if (stream.fd >= 0) ::close(stream.fd);
  stream.fd = -1;
  stream.next = stream.end = stream.buffer.get();
  stream.buffer_position = 0;
}

uint64_t stream_position(const ByteStream& stream) {
  return stream.buffer_position + static_cast<uint64_t>(stream.next - stream.buffer.get());
}

void stream_seek(ByteStream& stream, uint64_t position) {
  const uint64_t filled = static_cast<uint64_t>(stream.end - stream.buffer.get());
  if (position >= stream.buffer_position && position <= stream.buffer_position + filled) {
    stream.next = stream.buffer.get() + (position - stream.buffer_position);
    return;
  }
  stream.buffer_position = position;
  stream.next = stream.end = stream.buffer.get();
}

// Reads at most count bytes at position; returns the count read, 0 at the end or on error.
static std::size_t read_at(int fd, uint64_t position, uint8_t* destination, std::size_t count) {
  if (fd < 0) return 0;
  for (;;) {
    ssize_t got = ::pread(fd, destination, count, static_cast<off_t>(position));
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) return 0;
  }
}

int32_t stream_refill_and_read(ByteStream& stream) {
  stream.buffer_position = stream_position(stream);
  std::size_t got = read_at(stream.fd, stream.buffer_position, stream.buffer.get(), stream_buffer_size);
  stream.next = stream.buffer.get();
  stream.end = stream.next + got;
  if (got == 0) return -1;
  return *stream.next++;
}

std::size_t stream_read_block(ByteStream& stream, uint8_t* destination, std::size_t count) {
  std::size_t copied = 0;
  while (copied < count) {
    if (stream.next == stream.end) {
      // A large block goes straight to its destination rather than through the buffer.
      if (count - copied >= direct_read_bytes) {
        const uint64_t position = stream_position(stream);
        const std::size_t got = read_at(stream.fd, position, destination + copied, count - copied);
        stream.buffer_position = position + got;
        stream.next = stream.end = stream.buffer.get();
        copied += got;
        if (got == 0) break;
        continue;
      }
      if (stream_refill_and_read(stream) < 0) break;
      --stream.next;
    }
    std::size_t chunk = std::min(count - copied, static_cast<std::size_t>(stream.end - stream.next));
    std::memcpy(destination + copied, stream.next, chunk);
    stream.next += chunk;
    copied += chunk;
  }
  return copied;
}

std::string source_fault_text(const char* message) { return source_file.file_name + " : " + message; }

void fail_unexpected_end_of_file() { fail_source(msg::unexpected_end_of_file); }

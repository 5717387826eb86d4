#include "sources/source_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "sources/messages.h"

ByteStream::~ByteStream() { stream_close(*this); }

namespace {

constexpr uint64_t page_bytes = 4096;

// A mapped source that shrinks while it is read raises SIGBUS where its bytes are gone: that is
// the end of the file, reported as fail_source reports it. Only async-signal-safe calls but the
// flush, which is safe here: the fault comes from reading the mapping, never from inside stdio.
void write_all_to_stderr(const char* text) {
  std::size_t length = std::strlen(text);
  while (length > 0) {
    ssize_t done = ::write(2, text, length);
    if (done <= 0) return;
    text += done;
    length -= static_cast<std::size_t>(done);
  }
}

extern "C" void report_vanished_source(int) {
  std::fflush(stdout);
  write_all_to_stderr(source_file.file_name.c_str());
  write_all_to_stderr(" : ");
  write_all_to_stderr(msg::unexpected_end_of_file);
  write_all_to_stderr("\n");
  ::_exit(1);
}

void unmap_window(ByteStream& stream) {
  if (stream.window) ::munmap(stream.window, stream.window_length);
  stream.window = nullptr;
  stream.window_length = 0;
}

void empty_at(ByteStream& stream, uint64_t position, const uint8_t* base) {
  stream.buffer_position = position;
  stream.base = stream.next = stream.end = base;
}

}  // namespace

void catch_vanished_sources() {
  static bool installed = false;
  if (installed) return;
  struct sigaction action {};
  action.sa_handler = report_vanished_source;
  ::sigaction(SIGBUS, &action, nullptr);
  installed = true;
}

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
  stream.mapped = S_ISREG(status.st_mode) && stream.file_size > stream_map_above && stream.file_size > 0;
  if (stream.mapped) catch_vanished_sources();
  empty_at(stream, 0, stream.buffer.get());
  return true;
}

void stream_close(ByteStream& stream) {
  if (stream.fd >= 0) ::close(stream.fd);
  stream.fd = -1;
  unmap_window(stream);
  stream.mapped = false;
  empty_at(stream, 0, stream.buffer.get());
}

uint64_t stream_position(const ByteStream& stream) {
  return stream.buffer_position + static_cast<uint64_t>(stream.next - stream.base);
}

void stream_seek(ByteStream& stream, uint64_t position) {
  const uint64_t filled = static_cast<uint64_t>(stream.end - stream.base);
  if (position >= stream.buffer_position && position <= stream.buffer_position + filled) {
    stream.next = stream.base + (position - stream.buffer_position);
    return;
  }
  empty_at(stream, position, stream.base);
}

// Maps the window that holds position (below the end of the file); false when it cannot be.
static bool map_window_at(ByteStream& stream, uint64_t position) {
  unmap_window(stream);
  const uint64_t start = position & ~(page_bytes - 1);
  const std::size_t length = static_cast<std::size_t>(std::min<uint64_t>(stream_window_size, stream.file_size - start));
  void* window = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, stream.fd, static_cast<off_t>(start));
  if (window == MAP_FAILED) return false;
  stream.window = static_cast<uint8_t*>(window);
  stream.window_length = length;
  stream.buffer_position = start;
  stream.base = stream.window;
  stream.next = stream.base + (position - start);
  stream.end = stream.base + length;
  return true;
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
  const uint64_t position = stream_position(stream);
  if (stream.mapped) {
    if (position >= stream.file_size) {
      empty_at(stream, position, stream.base);
      return -1;
    }
    if (map_window_at(stream, position)) return *stream.next++;
    stream.mapped = false;  // the file cannot be mapped after all: read it by pread
  }
  std::size_t got = read_at(stream.fd, position, stream.buffer.get(), stream_buffer_size);
  empty_at(stream, position, stream.buffer.get());
  stream.end = stream.base + got;
  if (got == 0) return -1;
  return *stream.next++;
}

std::size_t stream_read_block(ByteStream& stream, uint8_t* destination, std::size_t count) {
  std::size_t copied = 0;
  while (copied < count) {
    if (stream.next == stream.end) {
      // A large block goes straight to its destination rather than through the buffer.
      if (!stream.mapped && count - copied >= direct_read_bytes) {
        const uint64_t position = stream_position(stream);
        const std::size_t got = read_at(stream.fd, position, destination + copied, count - copied);
        empty_at(stream, position + got, stream.buffer.get());
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

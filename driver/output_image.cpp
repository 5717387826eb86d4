#include "driver/output_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

namespace {

constexpr char default_description[] = "convert image";
constexpr char artist[] = "Mavren";
constexpr std::size_t output_buffer_size = 1 << 20;

// A write-back buffer over the temporary file, so that libtiff's small writes (one row, one
// directory entry) become few large ones. The position is always the end of the buffered bytes.
struct OutputStream {
  int fd = -1;
  std::unique_ptr<uint8_t[]> buffer = std::make_unique_for_overwrite<uint8_t[]>(output_buffer_size);
  std::size_t used = 0;       // buffered bytes, 0 to output_buffer_size
  uint64_t buffer_start = 0;  // file position of buffer[0]
  uint64_t size = 0;          // file size including the buffered bytes
  int error = 0;              // first errno of a failed write, 0 while all went well
};

bool write_all(OutputStream& out, const uint8_t* data, std::size_t count, uint64_t position) {
  while (count > 0) {
    ssize_t done = ::pwrite(out.fd, data, count, static_cast<off_t>(position));
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) {
      if (out.error == 0) out.error = done < 0 ? errno : ENOSPC;
      return false;
    }
    data += done;
    count -= static_cast<std::size_t>(done);
    position += static_cast<uint64_t>(done);
  }
  return true;
}

bool flush(OutputStream& out) {
  bool ok = write_all(out, out.buffer.get(), out.used, out.buffer_start);
  out.buffer_start += out.used;
  out.used = 0;
  return ok;
}

tmsize_t stream_write(thandle_t handle, void* data, tmsize_t size) {
  auto& out = *static_cast<OutputStream*>(handle);
  const auto count = static_cast<std::size_t>(size);
  const auto* bytes = static_cast<const uint8_t*>(data);
  bool ok = out.used + count <= output_buffer_size || flush(out);
  if (ok && count >= output_buffer_size) {
    ok = write_all(out, bytes, count, out.buffer_start);
    out.buffer_start += count;
  } else if (ok) {
    std::memcpy(out.buffer.get() + out.used, bytes, count);
    out.used += count;
  }
  if (!ok) return -1;
  out.size = std::max(out.size, out.buffer_start + out.used);
  return size;
}

toff_t stream_seek(thandle_t handle, toff_t offset, int whence) {
  auto& out = *static_cast<OutputStream*>(handle);
  const uint64_t here = out.buffer_start + out.used;
  uint64_t target = offset;
  if (whence == SEEK_CUR) target = here + offset;
  if (whence == SEEK_END) target = out.size + offset;
  if (target != here) {
    if (!flush(out)) return static_cast<toff_t>(-1);
    out.buffer_start = target;
  }
  return target;
}

tmsize_t stream_read(thandle_t, void*, tmsize_t) { return -1; }
int stream_close(thandle_t) { return 0; }
toff_t stream_size(thandle_t handle) { return static_cast<OutputStream*>(handle)->size; }
int stream_map(thandle_t, void**, toff_t*) { return 0; }
void stream_unmap(thandle_t, void*, toff_t) {}

constexpr int interrupting_signals[] = {SIGINT, SIGTERM, SIGHUP};

// The temporary file that an interruption must remove; null while there is none.
const char* volatile pending_temporary = nullptr;
mode_t creation_mode = 0644;

extern "C" void remove_pending_and_reraise(int signal_number) {
  const char* path = pending_temporary;
  if (path) ::unlink(path);
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

std::string temporary_template(const char* output_name) {
  const char* slash = std::strrchr(output_name, '/');
  std::string path(output_name, slash ? static_cast<std::size_t>(slash - output_name + 1) : 0);
  return path + ".vandrel-XXXXXX";
}

// The description handed to libtiff: the source's, else a copy of the default; null when that
// copy cannot be made, and the image is written without one.
std::unique_ptr<char[]> copy_default_description() {
  std::unique_ptr<char[]> copy(new (std::nothrow) char[sizeof default_description]);
  if (!copy) {
    std::fputs("comment memory allocation error.\n", stdout);
    return nullptr;
  }
  std::memcpy(copy.get(), default_description, sizeof default_description);
  return copy;
}

bool set_fields(TIFF* tif, uint32_t width, uint32_t height, const char* description) {
  bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width) == 1;
  ok = ok && TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height) == 1;
  ok = ok && TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8) == 1;
  ok = ok && TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE) == 1;
  ok = ok && TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK) == 1;
  ok = ok && TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1) == 1;
  ok = ok && TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 1) == 1;
  ok = ok && TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == 1;
  if (description) ok = ok && TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, description) == 1;
  return ok && TIFFSetField(tif, TIFFTAG_ARTIST, artist) == 1;
}

// Reports a failure of the file system in libtiff's own format and through its handler.
void report_system_error(const char* module, const char* output_name, int error) {
  TIFFErrorExt(nullptr, module, "%s: %s", output_name, std::strerror(error));
}

bool write_tiff(OutputStream& out, const char* output_name, int32_t width, int32_t height, const uint8_t* buffer,
                const char* description) {
  TIFF* tif = TIFFClientOpen(output_name, "wl", &out, stream_read, stream_write, stream_seek, stream_close, stream_size,
                             stream_map, stream_unmap);
  if (!tif) return false;
  bool ok = set_fields(tif, static_cast<uint32_t>(width), static_cast<uint32_t>(height), description);
  const std::size_t row_bytes = static_cast<std::size_t>(width);
  for (int32_t row = 0; ok && row < height; ++row) {
    const uint8_t* strip = buffer + static_cast<std::size_t>(row) * row_bytes;
    ok = TIFFWriteRawStrip(tif, static_cast<uint32_t>(row), const_cast<uint8_t*>(strip),
                           static_cast<tmsize_t>(row_bytes)) == static_cast<tmsize_t>(row_bytes);
  }
  TIFFClose(tif);
  flush(out);
  // libtiff's messages about failed writes do not name the file, and the last buffered bytes
  // fail where libtiff cannot see it: one line names the output and the cause.
  if (out.error != 0) TIFFErrorExt(nullptr, output_name, "%s", std::strerror(out.error));
  return ok && out.error == 0;
}

}  // namespace

void prepare_output_writing() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  creation_mode = static_cast<mode_t>(0666 & ~mask);
  std::signal(SIGXFSZ, SIG_IGN);
  for (int signal_number : interrupting_signals) std::signal(signal_number, remove_pending_and_reraise);
}

bool write_output_image(const char* output_name, int32_t width, int32_t height, const uint8_t* buffer,
                        const char* description) {
  std::unique_ptr<char[]> default_copy;
  if (!description) {
    default_copy = copy_default_description();
    description = default_copy.get();
  }
  std::string temporary = temporary_template(output_name);
  OutputStream out;
  // No interruption may fall between creating the temporary and recording it for removal.
  sigset_t interruptions, previous;
  sigemptyset(&interruptions);
  for (int signal_number : interrupting_signals) sigaddset(&interruptions, signal_number);
  sigprocmask(SIG_BLOCK, &interruptions, &previous);
  out.fd = ::mkstemp(temporary.data());
  const int create_error = errno;
  if (out.fd >= 0) pending_temporary = temporary.c_str();
  sigprocmask(SIG_SETMASK, &previous, nullptr);
  if (out.fd < 0) {
    report_system_error("TIFFOpen", output_name, create_error);
    return false;
  }
  ::fchmod(out.fd, creation_mode);
  bool ok = write_tiff(out, output_name, width, height, buffer, description);
  if (::close(out.fd) != 0 && ok) {
    report_system_error("TIFFClose", output_name, errno);
    ok = false;
  }
  if (ok && ::rename(temporary.c_str(), output_name) != 0) {
    report_system_error("TIFFClose", output_name, errno);
    ok = false;
  }
  if (!ok) ::unlink(temporary.c_str());
  pending_temporary = nullptr;
  return ok;
}

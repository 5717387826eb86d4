#include "tests/support.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

#include "sources/source_file.h"

extern char** environ;

void fail_source(const char* message) { throw SourceFault{message, source_fault_text(message)}; }

Field short_field(uint16_t tag, std::vector<uint32_t> values) { return Field{tag, 3, std::move(values), {}, {}, {}}; }
Field long_field(uint16_t tag, std::vector<uint32_t> values) { return Field{tag, 4, std::move(values), {}, {}, {}}; }
Field ascii_field(uint16_t tag, const std::string& text) {
  return Field{tag, 2, {}, Bytes(text.begin(), text.end()), {}, {}};
}

namespace {

void put16(Bytes& out, bool little, uint32_t v) {
  if (little)
    out.insert(out.end(), {uint8_t(v), uint8_t(v >> 8)});
  else
    out.insert(out.end(), {uint8_t(v >> 8), uint8_t(v)});
}

void put32(Bytes& out, bool little, uint32_t v) {
  if (little) {
    put16(out, true, v & 0xFFFF);
    put16(out, true, v >> 16);
  } else {
    put16(out, false, v >> 16);
    put16(out, false, v & 0xFFFF);
  }
}

void set32(Bytes& out, std::size_t at, bool little, uint32_t v) {
  Bytes tmp;
  put32(tmp, little, v);
  std::copy(tmp.begin(), tmp.end(), out.begin() + static_cast<long>(at));
}

Bytes field_data(const Field& f, bool little) {
  Bytes data;
  if (f.type == 3)
    for (uint32_t v : f.values) put16(data, little, v);
  else if (f.type == 4)
    for (uint32_t v : f.values) put32(data, little, v);
  else
    data = f.raw;
  return data;
}

uint32_t field_count(const Field& f) {
  if (f.count) return *f.count;
  return static_cast<uint32_t>(f.type == 3 || f.type == 4 ? f.values.size() : f.raw.size());
}

}  // namespace

Bytes build_tiff(const TiffSpec& tiff) {
  const bool le = tiff.little;
  Bytes out = {uint8_t(le ? 'I' : 'M'), uint8_t(le ? 'I' : 'M')};
  put16(out, le, 42);
  put32(out, le, 0);
  std::vector<Field> fields = tiff.fields;
  std::vector<uint32_t> offsets, counts;
  for (const Bytes& strip : tiff.strips) {
    offsets.push_back(static_cast<uint32_t>(out.size()));
    counts.push_back(static_cast<uint32_t>(strip.size()));
    out.insert(out.end(), strip.begin(), strip.end());
    if (out.size() % 2) out.push_back(0);
  }
  if (tiff.strip_fields) {
    fields.push_back(long_field(273, offsets));
    fields.push_back(long_field(279, counts));
  }
  std::vector<Bytes> value_fields;
  for (const Field& f : fields) {
    Bytes data = field_data(f, le);
    Bytes value;
    if (data.size() <= 4) {
      value = data;
      value.resize(4, 0);
    } else {
      put32(value, le, static_cast<uint32_t>(out.size()));
      out.insert(out.end(), data.begin(), data.end());
      if (out.size() % 2) out.push_back(0);
    }
    if (f.value_field) {
      value.clear();
      put32(value, le, *f.value_field);
    }
    value_fields.push_back(value);
  }
  set32(out, 4, le, static_cast<uint32_t>(out.size()));
  put16(out, le, static_cast<uint32_t>(fields.size()));
  for (std::size_t i = 0; i < fields.size(); ++i) {
    put16(out, le, fields[i].tag);
    put16(out, le, fields[i].type);
    put32(out, le, field_count(fields[i]));
    out.insert(out.end(), value_fields[i].begin(), value_fields[i].end());
  }
  put32(out, le, 0);
  return out;
}

Bytes pack_row(const std::vector<uint16_t>& row, int32_t bits, uint16_t fill_order, bool little, uint16_t predictor) {
  std::vector<uint16_t> stored = row;
  if (predictor == 2 && bits > 0) {
    const uint32_t mask = (1u << bits) - 1;
    for (std::size_t i = stored.size(); i-- > 1;) stored[i] = uint16_t((row[i] - row[i - 1]) & mask);
  }
  Bytes out;
  if (bits == 16 && little) {
    for (uint16_t s : stored) put16(out, true, s);
  } else {
    uint32_t acc = 0;
    int n = 0;
    for (uint16_t s : stored) {
      acc = (acc << bits) | s;
      n += bits;
      while (n >= 8) {
        n -= 8;
        out.push_back(uint8_t(acc >> n));
      }
    }
    if (n) out.push_back(uint8_t(acc << (8 - n)));
  }
  if (fill_order == 2)
    for (uint8_t& b : out) {
      uint8_t r = 0;
      for (int i = 0; i < 8; ++i)
        if (b & (1 << i)) r |= uint8_t(0x80 >> i);
      b = r;
    }
  return out;
}

std::vector<Bytes> image_strips(const ImageSpec& image) {
  const uint32_t per_strip = image.rows_per_strip == 0 ? uint32_t(image.height) : image.rows_per_strip;
  std::vector<Bytes> strips;
  for (int32_t r = 0; r < image.height; ++r) {
    if (uint32_t(r) % per_strip == 0) strips.emplace_back();
    Bytes row = pack_row(image.rows[size_t(r)], image.bits, image.fill_order, image.little, image.predictor);
    strips.back().insert(strips.back().end(), row.begin(), row.end());
  }
  return strips;
}

TiffSpec image_tiff(const ImageSpec& image) {
  TiffSpec tiff;
  tiff.little = image.little;
  tiff.fields = {long_field(256, {uint32_t(image.width)}), long_field(257, {uint32_t(image.height)}),
                 short_field(258, {uint32_t(image.bits)}), short_field(259, {1}),
                 short_field(262, {image.photometric}),    short_field(266, {image.fill_order})};
  if (image.description) tiff.fields.push_back(ascii_field(270, *image.description + std::string(1, '\0')));
  tiff.fields.push_back(short_field(277, {1}));
  if (image.rows_per_strip) tiff.fields.push_back(long_field(278, {image.rows_per_strip}));
  if (image.predictor != 1) tiff.fields.push_back(short_field(317, {image.predictor}));
  tiff.strips = image_strips(image);
  return tiff;
}

ImageSpec uniform_image(int32_t width, int32_t height, uint16_t value) {
  ImageSpec image;
  image.width = width;
  image.height = height;
  image.rows.assign(size_t(height), std::vector<uint16_t>(size_t(width), value));
  return image;
}

// Tolerates entries that vanish while it looks: a running vandrel renames its temporary away.
std::vector<std::string> temporary_outputs(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (std::filesystem::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
    if (it->path().filename().string().starts_with(".vandrel-")) names.push_back(it->path().string());
  return names;
}

void write_file(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

Bytes read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

bool file_exists(const std::string& path) { return std::filesystem::exists(path); }

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "vandrel-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
  path = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

std::string vandrel_binary() { return VANDREL_BINARY; }

ProgramResult run_program(const std::vector<std::string>& argv, const std::string& directory, double timeout_seconds,
                          const std::string& shell_prefix) {
  ProgramResult result;
  const std::string out_path = directory + "/.stdout", err_path = directory + "/.stderr";
  std::vector<std::string> args = argv;
  if (!shell_prefix.empty()) {
    std::string command = shell_prefix + " exec \"$0\" \"$@\"";
    args.insert(args.begin(), {"/bin/sh", "-c", command});
  }
  std::vector<char*> cargs;
  for (std::string& a : args) cargs.push_back(a.data());
  cargs.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(directory.c_str()) != 0) _exit(127);
    int in = open("/dev/null", O_RDONLY), out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644),
        err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    execv(cargs[0], cargs.data());
    _exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_seconds);
  int wstatus = 0;
  struct rusage usage {};
  for (;;) {
    pid_t done = wait4(pid, &wstatus, WNOHANG, &usage);
    if (done == pid) break;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      wait4(pid, &wstatus, 0, &usage);
      result.timed_out = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (WIFEXITED(wstatus)) result.status = WEXITSTATUS(wstatus);
  if (WIFSIGNALED(wstatus)) result.signal = WTERMSIG(wstatus);
  result.max_rss_kib = usage.ru_maxrss;
  Bytes out = read_file(out_path), err = read_file(err_path);
  result.out.assign(out.begin(), out.end());
  result.err.assign(err.begin(), err.end());
  std::remove(out_path.c_str());
  std::remove(err_path.c_str());
  return result;
}

OutputTiff read_output(const std::string& path) {
  OutputTiff t;
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) return t;
  t.opened = true;
  t.little = !TIFFIsBigEndian(tif);
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &t.width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &t.height);
  TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &t.bits);
  TIFFGetField(tif, TIFFTAG_COMPRESSION, &t.compression);
  TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &t.photometric);
  TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &t.samples);
  TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &t.rows_per_strip);
  TIFFGetField(tif, TIFFTAG_PLANARCONFIG, &t.planar);
  char* text = nullptr;
  if (TIFFGetField(tif, TIFFTAG_IMAGEDESCRIPTION, &text)) t.description = text;
  if (TIFFGetField(tif, TIFFTAG_ARTIST, &text)) t.artist = text;
  t.strips = TIFFNumberOfStrips(tif);
  uint64_t* counts = nullptr;
  TIFFGetField(tif, TIFFTAG_STRIPBYTECOUNTS, &counts);
  for (uint32_t s = 0; s < t.strips; ++s) {
    t.strip_bytes.push_back(counts ? counts[s] : 0);
    Bytes strip(counts ? counts[s] : 0);
    if (!strip.empty()) TIFFReadRawStrip(tif, s, strip.data(), tmsize_t(strip.size()));
    t.pixels.insert(t.pixels.end(), strip.begin(), strip.end());
  }
  TIFFClose(tif);
  return t;
}

std::vector<std::vector<uint16_t>> libtiff_samples(const std::string& path) {
  std::vector<std::vector<uint16_t>> rows;
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) return rows;
  uint32_t width = 0, height = 0;
  uint16_t bits = 1;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  Bytes line(size_t(TIFFScanlineSize(tif)));
  for (uint32_t r = 0; r < height; ++r) {
    if (TIFFReadScanline(tif, line.data(), r) < 0) break;
    std::vector<uint16_t> row(width);
    if (bits == 16) {
      std::memcpy(row.data(), line.data(), 2 * size_t(width));  // libtiff hands out native order
    } else {
      uint64_t bit = 0;
      for (uint32_t c = 0; c < width; ++c) {
        uint32_t v = 0;
        for (int i = 0; i < bits; ++i, ++bit) v = (v << 1) | ((line[bit / 8] >> (7 - bit % 8)) & 1);
        row[c] = uint16_t(v);
      }
    }
    rows.push_back(row);
  }
  TIFFClose(tif);
  return rows;
}

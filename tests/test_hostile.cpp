// Hostile and damaged sources on the built program: each ends with its one line and status 1,
// quickly and in little memory. Also the replay of fuzz/corpus, and interruptions while an
// output is being written.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <thread>

#include "tests/lzw_encoder.h"
#include "tests/support.h"

namespace {

// AddressSanitizer writes shadow memory for every reserved byte, touched or not, so the bound
// holds for the plain build only.
#ifdef VANDREL_SANITIZED
constexpr long memory_bound_kib = std::numeric_limits<long>::max();
#else
constexpr long memory_bound_kib = 64 * 1024;
#endif
#ifdef VANDREL_SANITIZED
constexpr double hang_guard_seconds = 60;  // reserving shadow memory for huge claims takes seconds
#else
constexpr double hang_guard_seconds = 10;
#endif

Field with_count(Field f, uint32_t count, std::optional<uint32_t> value_field = std::nullopt) {
  f.count = count;
  f.value_field = value_field;
  return f;
}

// A header for an image of the given size and depth with the given extra fields.
TiffSpec header(uint32_t width, uint32_t height, std::vector<Field> extra = {}, uint32_t bits = 8) {
  TiffSpec tiff;
  tiff.fields = {long_field(256, {width}), long_field(257, {height}), short_field(258, {bits}), short_field(262, {1})};
  tiff.fields.insert(tiff.fields.end(), extra.begin(), extra.end());
  return tiff;
}

Bytes directory_of_65535_entries() {
  Bytes bytes(100, 0xEE);  // entries whose tag is never sought
  const uint8_t start[] = {'I', 'I', 42, 0, 8, 0, 0, 0, 0xFF, 0xFF};
  std::copy(std::begin(start), std::end(start), bytes.begin());
  return bytes;
}

Bytes lzw_table_overflow() {
  Bytes noise;
  uint32_t seed = 7;
  for (int i = 0; i < 20000; ++i) noise.push_back(uint8_t((seed = seed * 1103515245u + 12345u) >> 24));
  TiffSpec tiff = header(20000, 1, {short_field(259, {5})});
  tiff.strips = {lzw_encode(noise, {false, false, 1 << 20}).bytes};
  return build_tiff(tiff);
}

struct HostileCase {
  const char* name;
  std::function<Bytes()> bytes;
  const char* message;
};

std::vector<HostileCase> hostile_cases() {
  return {
      {"2147483647 x 2147483647 samples", [] { return build_tiff(header(2147483647u, 2147483647u)); },
       "cell memory allocation error."},
      {"2^31 strips in a tiny file",
       [] {
         TiffSpec tiff = header(1, 2147483647u,
                                {long_field(278, {1}), with_count(long_field(273, {}), 2147483647u, 8),
                                 with_count(long_field(279, {}), 2147483647u, 8)});
         tiff.strip_fields = false;
         return build_tiff(tiff);
       },
       "unexpected end of file."},
      {"2^31 strips claimed, one stored",
       [] {
         TiffSpec tiff = header(1, 2147483647u, {long_field(278, {1})});
         tiff.strips = {{1}};
         return build_tiff(tiff);
       },
       "bad number of strip offset."},
      {"a 65535-entry directory in 100 bytes", directory_of_65535_entries, "unexpected end of file."},
      {"directory beyond the end", [] { return Bytes{'M', 'M', 0, 42, 0x7F, 0xFF, 0xFF, 0xF0}; },
       "unexpected end of file."},
      {"strip beyond the end",
       [] {
         TiffSpec tiff = header(4, 4, {long_field(273, {0xFFFFFF00u}), long_field(279, {16})});
         tiff.strip_fields = false;
         return build_tiff(tiff);
       },
       "unexpected end of file."},
      {"row of 2^31-1 samples from 10 bytes",
       [] {
         TiffSpec tiff = header(2147483647u, 1);
         tiff.strips = {Bytes(10, 7)};
         return build_tiff(tiff);
       },
       "too few codes."},
      {"byte count of 4 GiB in a tiny file",
       [] {
         TiffSpec tiff = header(60000, 60000, {long_field(273, {8}), long_field(279, {0xFFFFFFFFu})});
         tiff.strip_fields = false;
         return build_tiff(tiff);
       },
       "unexpected end of file."},
      {"LZW table full, no Clear", lzw_table_overflow, "LZW code table overflow."},
      {"PackBits run that never ends",
       [] {
         TiffSpec tiff =
             header(30000, 30000, {short_field(259, {32773}), long_field(273, {8}), long_field(279, {0xFFFFFFFFu})});
         tiff.strip_fields = false;
         tiff.strips = {{0x81, 0xAA}};
         return build_tiff(tiff);
       },
       "unexpected end of file."},
      {"large file: strip running past the end",
       [] {
         TiffSpec tiff = header(1000, 300, {long_field(273, {8}), long_field(279, {300000})});
         tiff.strip_fields = false;
         tiff.strips = {Bytes(200000, 3)};
         return build_tiff(tiff);
       },
       "unexpected end of file."},
      {"large file: directory beyond the end",
       [] {
         Bytes bytes(300000, 0);
         const uint8_t start[] = {'I', 'I', 42, 0, 0xF0, 0xFF, 0xFF, 0x00};
         std::copy(std::begin(start), std::end(start), bytes.begin());
         return bytes;
       },
       "unexpected end of file."},
      {"BitsPerSample 17", [] { return build_tiff(header(4, 4, {}, 17)); }, "too many bits per sample."},
      {"description of 4294967295 bytes beyond the end",
       [] {
         TiffSpec tiff = header(1, 1, {with_count(ascii_field(270, "x"), 0xFFFFFFFFu, 0x7FFFFFFFu)});
         tiff.strips = {{9, 9}};
         return build_tiff(tiff);
       },
       "too many codes."},
  };
}

ProgramResult convert(const TempDir& dir, const std::string& name) {
  std::ofstream(dir / "list.txt") << name;
  return run_program({vandrel_binary(), "list.txt", "0", "255"}, dir.path, hang_guard_seconds);
}

}  // namespace

TEST(Hostile, EachEndsWithItsLineQuicklyAndInLittleMemory) {
  TempDir dir;
  long worst_kib = 0;
  std::string worst;
  for (const HostileCase& c : hostile_cases()) {
    SCOPED_TRACE(c.name);
    write_file(dir / "h.tif", c.bytes());
    ProgramResult r = convert(dir, "h.tif");
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, std::string("h.tif : ") + c.message + "\n");
    EXPECT_EQ(r.out, "");
    EXPECT_LT(r.max_rss_kib, memory_bound_kib);
    if (r.max_rss_kib > worst_kib) worst_kib = r.max_rss_kib, worst = c.name;
  }
  std::printf("peak resident memory of the worst hostile case: %ld KiB (%s)\n", worst_kib, worst.c_str());
  std::filesystem::create_directory(dir / "folder");
  ProgramResult folder = convert(dir, "folder");
  EXPECT_EQ(folder.status, 1);
  EXPECT_EQ(folder.err, "folder : file not found.\n");
}

// Every file of fuzz/corpus that ever crashed, hung or misbehaved, with the line it must give.
TEST(Hostile, RegressionCorpusReplays) {
  const std::string corpus = std::string(VANDREL_SOURCE_DIR) + "/fuzz/corpus";
  std::ifstream expected(corpus + "/expected.txt");
  ASSERT_TRUE(expected.good());
  TempDir dir;
  std::string line;
  int replayed = 0;
  while (std::getline(expected, line)) {
    if (line.empty() || line[0] == '#') continue;
    const size_t tab = line.find('\t');
    ASSERT_NE(tab, std::string::npos) << line;
    const std::string name = line.substr(0, tab), outcome = line.substr(tab + 1);
    SCOPED_TRACE(name);
    std::filesystem::copy_file(corpus + "/" + name, dir / name, std::filesystem::copy_options::overwrite_existing);
    ProgramResult r = convert(dir, name);
    EXPECT_FALSE(r.timed_out);
    EXPECT_LT(r.max_rss_kib, memory_bound_kib);
    if (outcome == "converts") {
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.out, name + " -> o-" + name + " \n");
    } else {
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.err, name + " : " + outcome + "\n");
    }
    ++replayed;
  }
  EXPECT_GT(replayed, 0);
}

TEST(OutputSafety, InterruptedWriteLeavesNoPartialFile) {
  // A large output written while a signal arrives: no temporary and the older output intact.
  TempDir dir;
  write_file(dir / "big.tif", build_tiff(image_tiff(uniform_image(4000, 4000, 77))));
  std::string list;
  for (int i = 0; i < 200; ++i) list += "big.tif\n";
  std::ofstream(dir / "list.txt") << list;
  const Bytes older = {'o', 'l', 'd'};
  for (int signal_number : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal_number);
    write_file(dir / "o-big.tif", older);
    pid_t pid = fork();
    if (pid == 0) {
      if (chdir(dir.path.c_str()) != 0) _exit(127);
      freopen("/dev/null", "w", stdout);
      execl(vandrel_binary().c_str(), "vandrel", "list.txt", "0", "255", nullptr);
      _exit(127);
    }
    // Wait until a temporary file exists, then interrupt.
    bool seen = false;
    for (int i = 0; i < 5000 && !seen; ++i) {
      seen = !temporary_outputs(dir.path).empty();
      if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    kill(pid, signal_number);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(seen);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), signal_number);
    EXPECT_TRUE(temporary_outputs(dir.path).empty());
    // Either the older output or a complete new one: never a partial file.
    const Bytes now = read_file(dir / "o-big.tif");
    if (now != older) {
      OutputTiff out = read_output(dir / "o-big.tif");
      EXPECT_EQ(out.pixels.size(), 4000u * 4000u);
    }
  }
}

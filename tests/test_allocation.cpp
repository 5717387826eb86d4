// Allocation failures the driver must survive, made by a replacement of the nothrow array
// allocation that refuses one chosen size. A test binary of its own, so no other test sees it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <new>

#include "driver/batch.h"
#include "driver/output_image.h"
#include "tests/support.h"

namespace {
std::size_t refused_size = 0;  // 0: every allocation is served
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  if (refused_size != 0 && size == refused_size) return nullptr;
  return std::malloc(size == 0 ? 1 : size);
}
// The ordinary array allocation uses the same heap, so every delete[] below pairs with it.
void* operator new[](std::size_t size) {
  void* p = std::malloc(size == 0 ? 1 : size);
  if (!p) throw std::bad_alloc();
  return p;
}
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

int run(std::vector<std::string> args) {
  args.insert(args.begin(), "vandrel");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  return run_vandrel(int(argv.size()), argv.data());
}

}  // namespace

TEST(AllocationFailure, DefaultDescriptionCopyRefused) {
  TempDir dir;
  const uint8_t pixels[4] = {1, 2, 3, 4};
  refused_size = sizeof "convert image";
  testing::internal::CaptureStdout();
  const bool written = write_output_image((dir / "o.tif").c_str(), 2, 2, pixels, nullptr);
  refused_size = 0;
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "comment memory allocation error.\n");
  EXPECT_TRUE(written);
  OutputTiff out = read_output(dir / "o.tif");
  EXPECT_FALSE(out.description.has_value());
  EXPECT_EQ(out.artist, "Mavren");
  EXPECT_EQ(out.pixels, Bytes({1, 2, 3, 4}));
}

TEST(AllocationFailure, OutputBufferRefused) {
  TempDir dir;
  write_file(dir / "a.tif", build_tiff(image_tiff(uniform_image(7, 11, 5))));
  write_file(dir / "list.txt", {'a', '.', 't', 'i', 'f'});
  const auto here = std::filesystem::current_path();
  std::filesystem::current_path(dir.path);
  refused_size = 77;
  testing::internal::CaptureStderr();
  const int status = run({"list.txt", "0", "255"});
  refused_size = 0;
  const std::string err = testing::internal::GetCapturedStderr();
  std::filesystem::current_path(here);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(err, "a.tif : output memory allocation error.\n");
  EXPECT_FALSE(file_exists(dir / "o-a.tif"));
}

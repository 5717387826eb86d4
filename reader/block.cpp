#include "reader/block.h"

#include <sys/mman.h>

#include <algorithm>
#include <new>

namespace {

constexpr std::size_t kernel_block_bytes = std::size_t{32} << 20;
constexpr std::size_t page_bytes = 4096;

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

bool from_kernel(std::size_t bytes) { return bytes >= kernel_block_bytes; }

}  // namespace

bool block_from_kernel(std::size_t bytes) { return from_kernel(bytes); }

// On kernels without MADV_POPULATE_WRITE the call fails and the pages come by faults as usual.
void BlockPreparer::prepare_more(std::size_t end) {
  if (end > bytes) end = bytes;
  while (prepared < end) {
    const std::size_t start = prepared & ~(page_bytes - 1);
    const std::size_t stop = std::min(bytes, start + prepare_step);
    ::madvise(base + start, stop - start, MADV_POPULATE_WRITE);
    prepared = stop;
  }
}

void* reserve_block(std::size_t bytes) {
  if (!from_kernel(bytes)) return ::operator new[](bytes == 0 ? 1 : bytes, std::nothrow);
  void* block = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  return block == MAP_FAILED ? nullptr : block;
}

void* map_file_region(int fd, uint64_t offset, std::size_t bytes, std::size_t& lead) {
  lead = static_cast<std::size_t>(offset % page_bytes);
  void* region =
      ::mmap(nullptr, lead + bytes, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, static_cast<off_t>(offset - lead));
  if (region == MAP_FAILED) return nullptr;
  return static_cast<uint8_t*>(region) + lead;
}

void return_block_pages(void* block, std::size_t bytes, std::size_t offset) {
  if (!block || !from_kernel(bytes)) return;
  const std::size_t start = (offset + page_bytes - 1) & ~(page_bytes - 1);
  if (start < bytes) ::madvise(static_cast<uint8_t*>(block) + start, bytes - start, MADV_DONTNEED);
}

void BlockRelease::operator()(void* block) const {
  if (!block) return;
  if (file_mapped) {
    ::munmap(static_cast<uint8_t*>(block) - lead, lead + bytes);
  } else if (from_kernel(bytes)) {
    ::munmap(block, bytes);
  } else {
    ::operator delete[](block);
  }
}

#pragma once
// Large blocks of uninitialised memory for the samples and the output buffer. Pages are used
// only when first written. Blocks of 32 MiB and more come straight from the kernel and can have
// their pages written in ahead of use in one call, which is much cheaper than a page fault per
// page of a large image. A block may also be a read-only mapping of bytes of a file.

#include <cstddef>
#include <cstdint>
#include <memory>

struct BlockRelease {
  std::size_t bytes = 0;     // size as reserved; tells how the block was made
  std::size_t lead = 0;      // bytes of a file mapping before the block, for page alignment
  bool file_mapped = false;  // the block is a read-only mapping of a file's bytes
  void operator()(void* block) const;
};

template <class T>
using Block = std::unique_ptr<T[], BlockRelease>;

// Null when the memory cannot be had.
void* reserve_block(std::size_t bytes);

template <class T>
Block<T> make_block(std::size_t count) {
  const std::size_t bytes = count * sizeof(T);
  return Block<T>(static_cast<T*>(reserve_block(bytes)), BlockRelease{bytes});
}

// The bytes stored at offset of the open file fd, mapped read-only with their pages in; null
// when the file cannot be mapped. lead receives how far before them the mapping starts (it
// starts on a page). Writing to the block is a fault.
void* map_file_region(int fd, uint64_t offset, std::size_t bytes, std::size_t& lead);

// count elements of T stored at offset, as a block that unmaps itself.
template <class T>
Block<T> map_file_block(int fd, uint64_t offset, std::size_t count) {
  const std::size_t bytes = count * sizeof(T);
  std::size_t lead = 0;
  void* block = map_file_region(fd, offset, bytes, lead);
  return Block<T>(static_cast<T*>(block), BlockRelease{bytes, lead, true});
}

// Gives the pages of a kernel block from byte offset on back; they read as zeros when next
// touched. Does nothing for small blocks.
void return_block_pages(void* block, std::size_t bytes, std::size_t offset);

// Writes in the pages of a block ahead of use, in steps of at most prepare_step bytes and never
// more than one step beyond the point asked for: a block reserved for a hostile size costs only
// what is really decoded. Does nothing for small blocks.
struct BlockPreparer {
  uint8_t* base = nullptr;   // the block, or null when it is not prepared
  std::size_t bytes = 0;     // size of the block
  std::size_t prepared = 0;  // bytes from base whose pages are in

  template <class T>
  BlockPreparer(const Block<T>& block, std::size_t count);

  // Makes sure the pages of [0, end) are in.
  void prepare_through(std::size_t end) {
    if (end > prepared && base) prepare_more(end);
  }
  void prepare_more(std::size_t end);
};

inline constexpr std::size_t prepare_step = std::size_t{8} << 20;

bool block_from_kernel(std::size_t bytes);

template <class T>
BlockPreparer::BlockPreparer(const Block<T>& block, std::size_t count)
    : base(block && block_from_kernel(count * sizeof(T)) ? reinterpret_cast<uint8_t*>(block.get()) : nullptr),
      bytes(count * sizeof(T)) {}

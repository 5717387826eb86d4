#pragma once
// Uncompressed 16-bit strips that hold their samples in the machine's byte order, one strip
// right after the other, already are the rows: they are mapped from the file instead of being
// copied, which spares writing and zeroing the whole image once more.

#include <cstdint>

#include "reader/row_assembly.h"
#include "reader/source_image.h"
#include "sources/source_file.h"

// Sample bytes from which rows are borrowed; below it copying costs less than a mapping.
// The tests and the fuzzer lower it to reach the mapped way with small files.
inline uint64_t borrow_rows_from = uint64_t{1} << 20;

// Replaces the reserved rows by the mapped strips when every strip holds exactly the bytes its
// rows take, lies whole inside the file and follows the one before it, and the mapping can be
// made; false otherwise, and then row assembly reads the strips and finds what is wrong.
bool borrow_stored_rows(const RowLayout& layout, const uint32_t* strip_offsets, const uint32_t* strip_byte_counts,
                        const ByteStream& stream, SampleRows& rows);

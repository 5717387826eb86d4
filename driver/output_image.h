#pragma once
// The 8-bit output image, written through libtiff into a temporary file beside the output
// and renamed over the output name only when complete.

#include <cstdint>

// Installs the handlers that remove an unfinished temporary file when the run is interrupted
// (SIGINT, SIGTERM, SIGHUP), and lets a write beyond the file-size limit fail instead of
// killing the process. Call once before the first image.
void prepare_output_writing();

// Writes width x height bytes of buffer, one uncompressed strip per row, with description (the
// default description when null) and the Artist text. libtiff reports its own failures;
// the result says whether the output was written completely.
bool write_output_image(const char* output_name, int32_t width, int32_t height, const uint8_t* buffer,
                        const char* description);

#pragma once
// The command line and the batch loop over the list file.

#include <cstdint>

// Runs the whole program; the result is the exit status (0, 1, or -10).
int run_vandrel(int argc, char** argv);

// An argument as the standard base-10 conversion reads it, clamped to the signed 32-bit range.
int32_t parse_argument(const char* text);

#include <cstdio>
#include <cstdlib>

#include "sources/source_file.h"

void fail_source(const char* message) {
  std::fprintf(stderr, "%s : %s\n", source_file.file_name.c_str(), message);
  std::exit(1);
}
